#pragma once

// The measurement engine's one wall clock: seconds since 1970 as a double. Day numbers, daily
// counts and stored timestamps all read it, so a test can move every one of them at once
// (tests/sdk/measurement/engine/APMClockTesting.h).
// Safe from any thread.
double APMCurrentTimeInterval();
