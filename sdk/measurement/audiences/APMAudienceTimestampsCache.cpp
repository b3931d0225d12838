#include "sdk/measurement/audiences/APMAudienceTimestampsCache.h"

#include <memory>

#include "sdk/measurement/audiences/APMAudienceLog.h"
#include "sdk/measurement/audiences/APMRepeatedMessages.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

std::unique_ptr<APMPBResultData> decodedResults(const APMFilterResult* result) {
    return result != nullptr ? APMPBResultData::initWithBuffer(result->currentResults()) : nullptr;
}

}  // namespace

void APMAudienceTimestampsCache::populateCachedTimestamps(const APMFilterResult* result,
                                                          std::int32_t audienceID) {
    namespace data = apmpb::ResultData;
    std::unique_ptr<APMPBResultData> decoded;
    if (!dynamic_.contains(audienceID)) {
        decoded = decodedResults(result);
        DynamicTimestamps& timestamps = dynamic_[audienceID];
        for (const auto& entry : APMRepeatedMessagesOf<APMPBDynamicFilterResultTimestamp>(
                 decoded.get(), data::kDynamicFilterTimestamps)) {
            namespace slot = apmpb::DynamicFilterResultTimestamp;
            timestamps[static_cast<std::int32_t>(APMPBGetInt32(entry.get(), slot::kFilterId))] =
                static_cast<double>(APMPBGetInt64(entry.get(), slot::kTimestamp));
        }
    }
    if (!sequence_.contains(audienceID)) {
        if (!decoded) {
            decoded = decodedResults(result);
        }
        APMSequenceTimestampsCache& cache =
            sequence_.try_emplace(audienceID, audienceID).first->second;
        for (const auto& entry : APMRepeatedMessagesOf<APMPBSequenceFilterResultTimestamp>(
                 decoded.get(), data::kSequenceFilterTimestamps)) {
            namespace slot = apmpb::SequenceFilterResultTimestamp;
            const auto stored = APMPBGetRepeated(entry.get(), slot::kEvalTimestamps);
            if (!stored || stored->empty()) {
                continue;
            }
            const auto* last = std::get_if<sdk::Value>(&stored->back());
            cache.addEventFilterTimestamp(
                static_cast<double>(last != nullptr ? last->numberAsInt().value_or(0) : 0),
                static_cast<std::int32_t>(APMPBGetInt32(entry.get(), slot::kFilterId)));
        }
    }
}

void APMAudienceTimestampsCache::addEvaluationTimestamp(double timestamp,
                                                        const APMEventFilter& filter) {
    addEvaluationTimestamp(timestamp, filter.audienceID(), filter.filterID(), filter.isSequence(),
                           filter.isDynamic() || filter.isSessionScoped(), true);
}

void APMAudienceTimestampsCache::addEvaluationTimestamp(double timestamp,
                                                        const APMPropertyFilter& filter) {
    addEvaluationTimestamp(timestamp, filter.audienceID(), filter.filterID(), filter.isSequence(),
                           filter.isDynamic() || filter.isSessionScoped(), false);
}

void APMAudienceTimestampsCache::addEvaluationTimestamp(double timestamp, std::int32_t audienceID,
                                                        std::int32_t filterID, bool sequence,
                                                        bool dynamicOrSessionScoped,
                                                        bool eventFilter) {
    if (sequence) {
        APMSequenceTimestampsCache& cache =
            sequence_.try_emplace(audienceID, audienceID).first->second;
        if (eventFilter) {
            cache.addEventFilterTimestamp(timestamp, filterID);
        } else {
            cache.setUserPropertyTimestamp(timestamp, filterID);
        }
        return;
    }
    if (!dynamicOrSessionScoped) {
        return;
    }
    const auto timestamps = dynamic_.find(audienceID);
    double stored = 0.0;
    if (timestamps != dynamic_.end()) {
        const auto found = timestamps->second.find(filterID);
        stored = found != timestamps->second.end() ? found->second : 0.0;
    }
    if (!(timestamp > stored)) {
        APMAudienceLog(
            5, 6037, "Candidate evaluation timestamp is earlier than cached evaluation timestamp");
        return;
    }
    if (timestamps != dynamic_.end()) {
        timestamps->second[filterID] = timestamp;
    }
}

std::vector<APMPBDynamicFilterResultTimestamp>
APMAudienceTimestampsCache::dynamicTimestampsForAudienceID(std::int32_t audienceID) const {
    namespace slot = apmpb::DynamicFilterResultTimestamp;
    std::vector<APMPBDynamicFilterResultTimestamp> messages;
    const auto timestamps = dynamic_.find(audienceID);
    if (timestamps == dynamic_.end()) {
        return messages;
    }
    for (const auto& [filterID, timestamp] : timestamps->second) {
        APMPBDynamicFilterResultTimestamp& message = messages.emplace_back();
        APMPBSetInt32(&message, slot::kFilterId, static_cast<std::uint32_t>(filterID));
        APMPBSetInt64(&message, slot::kTimestamp, APMWholeSeconds(timestamp));
    }
    return messages;
}

std::optional<std::vector<APMPBSequenceFilterResultTimestamp>>
APMAudienceTimestampsCache::sequenceTimestampsForAudienceID(std::int32_t audienceID) const {
    const auto cache = sequence_.find(audienceID);
    if (cache == sequence_.end()) {
        return std::nullopt;
    }
    return cache->second.sequenceFilterResultTimestamps();
}
