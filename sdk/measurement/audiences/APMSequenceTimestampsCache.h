#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sdk/measurement/messages/APMPBMessages.h"

// The times (seconds since 1970) at which the sequence filters of one audience evaluated true
// during one bundling pass, per filter ID in insertion order. Timestamps leave it as whole
// seconds (truncated, saturating). Used on the worker queue only; no locking.
class APMSequenceTimestampsCache {
  public:
    explicit APMSequenceTimestampsCache(std::int32_t audienceID) : audienceID_(audienceID) {}

    std::int32_t audienceID() const { return audienceID_; }
    const std::map<std::int32_t, std::vector<double>>& allSequenceTimestampsByFilterID() const {
        return timestamps_;
    }

    // A copy of the filter's timestamps; no value for a filter without any.
    std::optional<std::vector<double>> sequenceTimestampsForFilterID(std::int32_t filterID) const;

    // An event sequence filter's true evaluation: appended unless the last one falls in the same
    // whole second. One earlier than the last is still appended, after logging 42000 (level 5).
    void addEventFilterTimestamp(double timestamp, std::int32_t filterID);

    // A user property sequence filter's true evaluation: it replaces the filter's timestamps.
    // One earlier than the last logs 42001 (level 5).
    void setUserPropertyTimestamp(double timestamp, std::int32_t filterID);

    // One message per filter in ascending filter ID: the filter ID and its timestamps sorted
    // ascending, as whole seconds.
    std::vector<APMPBSequenceFilterResultTimestamp> sequenceFilterResultTimestamps() const;

  private:
    std::int32_t audienceID_;
    std::map<std::int32_t, std::vector<double>> timestamps_;
};

// `seconds` truncated to a whole number, saturating at the int64 range (NaN gives 0).
std::int64_t APMWholeSeconds(double seconds);
