#pragma once

#include <chrono>

#include "platform/dispatch/Clock.h"
#include "sdk/utilities/Date.h"

// The engine's "now" for times it stores and compares (health samples, stored deep links, alarm
// due dates): the wall clock of platform/dispatch, which tests can set.
inline sdk::Date APMWallClockNow() {
    using Seconds = std::chrono::duration<double>;
    return sdk::Date::fromTimeIntervalSince1970(
        std::chrono::duration_cast<Seconds>(platform::wallClockNow().time_since_epoch()).count());
}
