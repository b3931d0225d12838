#pragma once

#include <string_view>

// The notifications the engine and its subsystems observe on the SDK notification center, named
// in one place so the platform stays behind these functions and the subsystems below the engine
// need none of its headers.

// Posted once the application has finished launching.
inline std::string_view APMAppDidFinishLaunchingNotificationName() {
    return "NSApplicationDidFinishLaunchingNotification";
}

// Posted when the application becomes the active one.
inline std::string_view APMAppDidBecomeActiveNotificationName() {
    return "NSApplicationDidBecomeActiveNotification";
}

// Posted when the application is about to stop being the active one.
inline std::string_view APMAppWillResignActiveNotificationName() {
    return "NSApplicationWillResignActiveNotification";
}

// Posted when a window stops being the key window.
inline std::string_view APMWindowDidResignKeyNotificationName() {
    return "NSWindowDidResignKeyNotification";
}

// Posted (object none) by the engine's session reporter each time its engagement timer fires;
// the ad exposure reporter closes its intervals then.
inline constexpr const char* kAPMEngagementTimerDidFireNotification =
    "kAPMSessionReporterEngagementTimerDidFire";
