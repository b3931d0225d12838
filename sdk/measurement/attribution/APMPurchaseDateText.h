#pragma once

#include <optional>
#include <string>
#include <string_view>

// The date text of purchase records: "yyyy-MM-dd'T'HH:mm:ss" followed by the offset from GMT,
// "Z" for none or "+hh:mm" / "-hh:mm" ("2024-01-05T10:00:00Z"). Pure functions, safe from any
// thread. Times are seconds since 1970.

// The date text of `seconds` in GMT, whole seconds (fractions dropped toward the past). No value
// for no date or one outside the four-digit years.
std::optional<std::string> APMPurchaseDateTextFromSeconds(std::optional<double> seconds);

// The time `text` names. No value for anything but the form above with a real calendar date
// and time and an offset below 24 hours.
std::optional<double> APMPurchaseSecondsFromDateText(std::string_view text);
