#pragma once

#include <cstdint>
#include <string_view>

class APMUserDefaults;

// A deep link kept in the measurement user defaults until attribution picks it up, and the
// hour arithmetic of the stored-campaign report. Each function works on the defaults passed in;
// safe from any thread.

inline constexpr std::string_view kAPMDeepLinkKey = "/vovidu/measurement/deep_link";
inline constexpr std::string_view kAPMDeepLinkTimestampKey =
    "/vovidu/measurement/deep_link_timestamp_seconds";

// Stores `url` and the current time (seconds since 1970).
void APMStoreDeepLink(APMUserDefaults& defaults, std::string_view url);

// Removes the link and its time.
void APMClearStoredDeepLink(APMUserDefaults& defaults);

// True when a time is stored and lies more than `ttlSeconds` away from now (either way: a
// clock set back counts too); false without a stored time.
bool APMIsStoredDeepLinkExpired(APMUserDefaults& defaults, double ttlSeconds);

// On `defaults` (the engine passes the shared measurement defaults) with the remote
// configuration's attribution cache TTL: clears an expired link and returns true; else false.
bool APMClearExpiredStoredDeepLink(APMUserDefaults& defaults, double attributionCacheTTLSeconds);

// The start of the hour before the one holding `millis` (ms since 1970): truncated to the
// hour, minus one hour.
std::int64_t APMPreviousHourStartMillis(std::int64_t millis);
