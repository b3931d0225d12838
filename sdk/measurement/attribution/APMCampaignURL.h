#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/app/ApplicationDelegate.h"
#include "sdk/utilities/Value.h"

// URLs of campaign links and of the deep-link service, and the launch options that carry them.
// Pure functions, safe from any thread.

// Whether `text` is an absolute URL (a scheme and what follows it) as libcurl's parser reads
// it; empty text is not.
bool APMIsValidURLString(std::string_view text);

// The query of an absolute URL as written (still percent-encoded, without "?" and fragment);
// none for an invalid URL or one without a query.
std::optional<std::string> APMURLQuery(std::string_view url);

// The activity type of a browsing-web activity.
inline constexpr std::string_view kAPMBrowsingWebActivityType = "NSUserActivityTypeBrowsingWeb";

// Keys of the launch options in the finished-launching notification's user info: the
// dictionary of the continued activity, the activity within it, and the opened URL (a string).
inline constexpr std::string_view kAPMLaunchOptionsUserActivityDictionaryKey =
    "UIApplicationLaunchOptionsUserActivityDictionaryKey";
inline constexpr std::string_view kAPMLaunchOptionsUserActivityKey =
    "UIApplicationLaunchOptionsUserActivityKey";
inline constexpr std::string_view kAPMLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";

// A user activity as a value in a notification's user info: {"activityType": string,
// "webpageURL": string (absent without one)}.
sdk::Value APMValueFromUserActivity(const platform::UserActivity& activity);
// The activity of such a value; none when it is not a dictionary with a string activity type
// (a webpage URL that is not a string counts as none).
std::optional<platform::UserActivity> APMUserActivityFromValue(const sdk::Value* value);
