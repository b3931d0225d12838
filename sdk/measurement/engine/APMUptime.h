#pragma once

// The engine's uptime clock: seconds since boot, counting time spent suspended (the kernel's
// boot-time clock). Engagement spans and upload suspensions are measured on it because, unlike
// the wall clock, it never jumps when the user sets the time. Safe from any thread.
//
// -1.0 when the clock cannot be read.
double APMSystemUptime();
