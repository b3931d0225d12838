#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sdk/measurement/audiences/APMSequenceTimestampsCache.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/storage/APMEventFilter.h"
#include "sdk/measurement/storage/APMFilterResult.h"
#include "sdk/measurement/storage/APMPropertyFilter.h"

// The evaluation times of dynamic, session-scoped and sequence filters during one bundling
// pass, per audience: loaded once per audience from its stored result, extended by true
// evaluations, and read back when the audience's result is rewritten. Times are seconds since
// 1970 and leave the cache as whole seconds. Owned by one caller for one pass, on the worker
// queue; no locking.
//
// Invariants:
// 1. An audience's dynamic map and its sequence cache are each loaded from a stored result at
//    most once (the first populateCachedTimestamps for it); later calls leave them alone.
// 2. A dynamic filter's time only grows.
class APMAudienceTimestampsCache {
  public:
    using DynamicTimestamps = std::map<std::int32_t, double>;  // filter ID -> time

    // Loads the audience's stored times from `result`'s current results (none for no result or
    // data that does not decode): every dynamic filter time, and the last time of every
    // sequence filter that has one.
    void populateCachedTimestamps(const APMFilterResult* result, std::int32_t audienceID);

    // Records a true evaluation of `filter` at `timestamp`. A sequence filter adds it to the
    // audience's sequence cache (made when missing): an event filter appends, a property filter
    // replaces. A dynamic or session-scoped filter keeps it when it is later than the time it
    // holds (none counts as 0), else logs 6037 (level 5) and keeps the old one; this needs the
    // audience's times to have been populated, otherwise nothing is recorded. A static filter
    // records nothing.
    void addEvaluationTimestamp(double timestamp, const APMEventFilter& filter);
    void addEvaluationTimestamp(double timestamp, const APMPropertyFilter& filter);

    // One message per dynamic filter of the audience in ascending filter ID, with its time in
    // whole seconds; empty when it has none.
    std::vector<APMPBDynamicFilterResultTimestamp> dynamicTimestampsForAudienceID(
        std::int32_t audienceID) const;
    // The audience's sequence cache's messages; no value without a sequence cache.
    std::optional<std::vector<APMPBSequenceFilterResultTimestamp>> sequenceTimestampsForAudienceID(
        std::int32_t audienceID) const;

    const std::map<std::int32_t, DynamicTimestamps>& cachedDynamicFilterEvaluationTimestamps()
        const {
        return dynamic_;
    }
    const std::map<std::int32_t, APMSequenceTimestampsCache>& cachedSequenceEvaluationTimestamps()
        const {
        return sequence_;
    }

  private:
    void addEvaluationTimestamp(double timestamp, std::int32_t audienceID, std::int32_t filterID,
                                bool sequence, bool dynamicOrSessionScoped, bool eventFilter);

    std::map<std::int32_t, DynamicTimestamps> dynamic_;
    std::map<std::int32_t, APMSequenceTimestampsCache> sequence_;
};
