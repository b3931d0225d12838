#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "sdk/measurement/audiences/APMAudienceTimestampsCache.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/storage/APMFilterResult.h"

class APMDatabase;

// Evaluates the audiences of the remote configuration on the device. Every leaf filter of an
// audience (event filters against each bundled event and its counts, property filters against
// each user property) is one bit of the audience's stored result (a row of
// `audience_filter_values`): filter f is bit f % 64 of word f / 64, a status bit saying the
// filter was evaluated and a result bit saying it was true. Dynamic and session-scoped filters
// keep the time of their last true evaluation, sequence filters the times of their true
// evaluations, through the caller's APMAudienceTimestampsCache. Bundling attaches every
// audience's current results, with the previously bundled ones when they changed, and rolls the
// stored state forward.
//
// Diagnostics go to the engine's monitor; the limits are those of the engine's remote
// configuration (APMAudienceLimits::current()), read at each call.
//
// A database call that fails without an error counts as finding nothing; one that fails with an
// error ends the call with false, and nothing the call collected in memory is written.
//
// Thread-safety: worker queue only; no locks. Holds no state between calls but the database.
class APMAudience {
  public:
    // Null for a null database.
    static std::shared_ptr<APMAudience> initWithDatabase(std::shared_ptr<APMDatabase> database);
    explicit APMAudience(std::shared_ptr<APMDatabase> database);

    const std::shared_ptr<APMDatabase>& database() const { return database_; }

    // Replaces all stored filters with those of `audiences` (APMPBAudience elements; others are
    // ignored). More audiences than maxAudienceCount: 6008 and true, with nothing stored or
    // deleted. An invalid audience is logged (6009) and skipped. Event and parameter names are
    // stored in their internal forms, property names too. Results of surviving and vanished
    // audiences stay, unless there are too many (maybeDeleteStaleFilterResults).
    bool updateAudiences(const APMPBRepeatedArray& audiences);

    // With more stored results than maxFilterResultCount, deletes those of audiences that
    // neither the stored filter tables nor `audienceIDs` hold (6016).
    bool maybeDeleteStaleFilterResults(const std::set<std::int32_t>& audienceIDs);

    // Evaluates the event filters of `event`'s name against it and its updated counts.
    bool evaluateFiltersForEvent(const APMEvent& event, const APMEventAggregates& eventAggregates,
                                 APMAudienceTimestampsCache& cache);
    // `eventName` is the internal name; `timestamp` in seconds since 1970. A null cache uses one
    // of its own.
    bool evaluateFiltersForEventName(std::string_view eventName, const APMParameters& parameters,
                                     const APMEventAggregates* eventAggregates, double timestamp,
                                     APMAudienceTimestampsCache* cache);
    // Evaluates the property filters of `attribute`'s name against it at `evaluationTimestamp`.
    bool evaluateFiltersForUserProperty(const APMUserAttribute& attribute,
                                        APMAudienceTimestampsCache* cache,
                                        double evaluationTimestamp);
    // The wire attribute converted (6039 and false when it cannot be) and evaluated at
    // `evaluationTime`, or at its own set time when none is given.
    bool evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& attribute,
                                            APMAudienceTimestampsCache* cache,
                                            std::optional<double> evaluationTime);

    // Every stored result that has some status bit, in ascending audience ID, as the bundle's
    // leaf results; the stored rows are rolled forward (previous = what was current). `results`
    // is set to a new list at entry and to no value on failure.
    bool resultsForBundling(std::optional<std::vector<APMPBAudienceLeafFilterResult>>& results);

    // Clears the bits and times of the session-scoped filters; a result left without any status
    // bit is deleted.
    bool clearEvaluationResultsForSessionScopedFilters();

    // Whether `result`'s current data says that filter `filterID` was evaluated and is true.
    // False for no result or empty data; 6023 and false when the data has no status or result
    // words. REQUIRES: filterID >= 0.
    static bool isFilterResultTrueForFilterID(const APMFilterResult* result, std::int32_t filterID);
    // `current` (or an empty result) with filter `filterID`'s status bit set when
    // `newEvaluationResult` has a value (cleared otherwise) and its result bit set when that
    // value is true, and the audience's times from `cache`; the previous results stay.
    // REQUIRES: 0 <= filterID < the maxFiltersPerAudience the caller checked.
    static APMFilterResult updatedFilterResultWithFilterID(std::int32_t filterID,
                                                           std::int32_t audienceID,
                                                           const APMFilterResult* current,
                                                           std::optional<bool> newEvaluationResult,
                                                           const APMAudienceTimestampsCache& cache);

  private:
    std::shared_ptr<APMDatabase> database_;
};
