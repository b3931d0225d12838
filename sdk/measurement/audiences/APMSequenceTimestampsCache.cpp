#include "sdk/measurement/audiences/APMSequenceTimestampsCache.h"

#include <algorithm>

#include "sdk/measurement/audiences/APMAudienceLog.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/utilities/Value.h"

std::int64_t APMWholeSeconds(double seconds) {
    return sdk::Value(seconds).numberAsInt().value_or(0);
}

std::optional<std::vector<double>> APMSequenceTimestampsCache::sequenceTimestampsForFilterID(
    std::int32_t filterID) const {
    const auto found = timestamps_.find(filterID);
    if (found == timestamps_.end() || found->second.empty()) {
        return std::nullopt;
    }
    return found->second;
}

void APMSequenceTimestampsCache::addEventFilterTimestamp(double timestamp, std::int32_t filterID) {
    std::vector<double>& list = timestamps_[filterID];
    if (!list.empty() && list.back() > timestamp) {
        APMAudienceLog(5, 42000, "Adding a sequence timestamp less than the last added timestamp");
    }
    if (list.empty() || APMWholeSeconds(list.back()) != APMWholeSeconds(timestamp)) {
        list.push_back(timestamp);
    }
}

void APMSequenceTimestampsCache::setUserPropertyTimestamp(double timestamp, std::int32_t filterID) {
    std::vector<double>& list = timestamps_[filterID];
    if (!list.empty() && list.back() > timestamp) {
        APMAudienceLog(5, 42001, "Setting a sequence timestamp less than the last set timestamp");
    }
    list.assign(1, timestamp);
}

std::vector<APMPBSequenceFilterResultTimestamp>
APMSequenceTimestampsCache::sequenceFilterResultTimestamps() const {
    namespace slot = apmpb::SequenceFilterResultTimestamp;
    std::vector<APMPBSequenceFilterResultTimestamp> messages;
    for (const auto& [filterID, list] : timestamps_) {
        std::vector<double> sorted = list;
        std::sort(sorted.begin(), sorted.end());
        APMPBRepeatedArray seconds;
        for (const double timestamp : sorted) {
            seconds.emplace_back(sdk::Value(APMWholeSeconds(timestamp)));
        }
        APMPBSequenceFilterResultTimestamp& message = messages.emplace_back();
        APMPBSetInt32(&message, slot::kFilterId, static_cast<std::uint32_t>(filterID));
        APMPBSetRepeated(&message, slot::kEvalTimestamps, seconds);
    }
    return messages;
}
