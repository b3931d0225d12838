// Bundling: one pass turns the oldest run of raw events into a queued bundle. The run is one
// metadata group, one hour, contiguous rows within the count and size limits; its events are
// re-checked against the day's limits, counted into their aggregates, sampled and stored
// gzip-compressed in "queue", and then the run's rows are deleted, all in one transaction.
#include <algorithm>
#include <cmath>
#include <limits>

#include "sdk/measurement/audiences/APMAudience.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMAEU.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMBundleFields.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDailyCounts.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRawEventData.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

namespace Bundle = apmpb::MeasurementBundle;

// The hour of a time in seconds: floor(seconds) / 3600, saturating (NaN gives 0).
std::int64_t hourOf(double seconds) {
    if (std::isnan(seconds)) {
        return 0;
    }
    constexpr double kMax = 9.2e18;
    const double whole = std::floor(std::clamp(seconds, -kMax, kMax));
    const auto value = static_cast<std::int64_t>(whole);
    // Integer division of the whole seconds, as the rows' hours were numbered.
    return value / 3600;
}

// Events that count against the daily real-time limit (none in debug mode).
bool isRealtimeLimitedName(std::string_view name, bool debugMode) {
    static constexpr std::string_view kUnlimited[] = {"_iap", "_f", "_dcu", "_fx"};
    return !debugMode &&
           std::find(std::begin(kUnlimited), std::end(kUnlimited), name) == std::end(kUnlimited);
}

// Deletes the run ending at `lastRowID` and, when no row of its group is left, the group's
// metadata. False (logged) on a database error.
bool deleteRun(APMDatabase& database, std::int64_t lastRowID, std::int64_t fingerprint) {
    APMMonitor& monitor = APMMeasurement::monitor();
    sdk::Error error;
    if (!database.deleteRawEventsWithMaxRowID(lastRowID, &error)) {
        monitor.logWithLevel(1, 23119, "Unable to delete raw events. RowID, error", lastRowID,
                             error);
        return false;
    }
    const std::optional<bool> remains =
        database.containsRawEventWithMetadataFingerprint(fingerprint, &error);
    if (!remains) {
        monitor.logWithLevel(1, 23120, "Unable to query existence of raw event. Metadata, error",
                             fingerprint, error);
        return false;
    }
    if (!*remains && !database.deleteRawEventMetadataWithMetadataFingerprint(fingerprint, &error)) {
        monitor.logWithLevel(1, 23121, "Unable to delete raw event metadata. Metadata, error",
                             fingerprint, error);
        return false;
    }
    return true;
}

// The limits of one run, applied row by row while the run is read.
class RunFilter {
  public:
    RunFilter(APMDatabase& database, std::int64_t maxEvents, std::int64_t maxBytes)
        : database_(database), maxEvents_(maxEvents), maxBytes_(maxBytes) {}

    bool accept(std::size_t index, const APMSqliteRecord& record) {
        if (index > 0 && static_cast<std::int64_t>(index) >= maxEvents_) {
            return false;
        }
        sdk::Error error;
        const std::optional<APMRawEventData> row =
            database_.rawEventDataFromDictionary(&record, &error);
        if (!row) {
            // Taken into the run all the same, so it is deleted with it and cannot stall the
            // queue; the read leaves it out of the events.
            APMMeasurement::monitor().logWithLevel(4, 23096, "Failed to filter raw event. Error",
                                                   error);
            const bool taken = acceptRowID(index, record);
            unreadable_ += taken ? 1 : 0;
            return taken;
        }
        const std::int64_t hour = hourOf(row->rawEvent().timestamp());
        if (index > 0 && hour != firstHour_) {
            return false;
        }
        if (index > 0 && row->rowID() != previousRowID_ + 1) {
            return false;
        }
        const std::int64_t size = static_cast<std::int64_t>(
            row->rawEvent().protoEvent().protoBuffer().value_or(sdk::Bytes{}).size());
        if (index > 0 && bytes_ + size >= maxBytes_) {
            return false;
        }
        firstHour_ = index == 0 ? hour : firstHour_;
        previousRowID_ = row->rowID();
        bytes_ += size;
        ++taken_;
        return true;
    }

    // Whether the run taken so far consists of unreadable rows only, and its last row ID.
    bool onlyUnreadableRows() const { return unreadable_ > 0 && taken_ == 0; }
    std::int64_t lastRowID() const { return previousRowID_; }

    // The run of `fingerprint` in row order; no value (logged) on a database error or when no
    // row of the run could be read.
    std::optional<std::vector<APMRawEventData>> read(std::int64_t fingerprint) {
        sdk::Error error;
        std::optional<std::vector<APMRawEventData>> rows =
            database_.rawEventsWithMetadataFingerprint(
                fingerprint, &error, [this](std::size_t index, const APMSqliteRecord& record) {
                    return accept(index, record);
                });
        if (!rows) {
            APMMeasurement::monitor().logWithLevel(
                1, 23097, "Inconsistent state, raw event is expected. Error", error);
        }
        return rows;
    }

  private:
    bool acceptRowID(std::size_t index, const APMSqliteRecord& record) {
        const auto found = record.find("rowid");
        const std::int64_t rowID =
            found == record.end() ? -1 : found->second.numberAsInt().value_or(-1);
        if (index > 0 && rowID != previousRowID_ + 1) {
            return false;
        }
        previousRowID_ = rowID;
        return true;
    }

    APMDatabase& database_;
    const std::int64_t maxEvents_;
    const std::int64_t maxBytes_;
    std::int64_t firstHour_ = 0;
    std::int64_t previousRowID_ = 0;
    std::int64_t bytes_ = 0;
    std::int64_t taken_ = 0;
    std::int64_t unreadable_ = 0;
};

}  // namespace

bool APMMeasurement::bundleRawEvents() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("bundleRawEvents");
    if (!didInitializeComponents()) {
        return false;
    }
    bool progress = false;
    database_->performTransaction([&] { return bundleOldestRunOnWorkerQueue(progress); });
    if (progress) {
        setSuspendedUploadTimestamp(0);
    }
    return progress;
}

bool APMMeasurement::bundleOldestRunOnWorkerQueue(bool& progress) {
    sdk::Error error;
    const std::optional<std::int64_t> fingerprint =
        database_->nextMetadataFingerprintToProcess(&error);
    if (!fingerprint) {
        if (error.ok()) {
            return true;
        }
        monitor().logWithLevel(1, 23095, "Unable to fetch next event metadata. Error", error);
        return false;
    }
    RunFilter filter(*database_, remoteConfig_->uploadMaxEventsPerBundle(),
                     remoteConfig_->uploadMaxSizeLimitBytes());
    std::optional<std::vector<APMRawEventData>> rows = filter.read(*fingerprint);
    if (!rows) {
        // A run of rows that cannot be read would stop every later bundle: it goes.
        progress =
            filter.onlyUnreadableRows() && deleteRun(*database_, filter.lastRowID(), *fingerprint);
        return progress;
    }
    if (rows->empty()) {
        return true;
    }
    std::unique_ptr<APMPBMeasurementBundle> bundle =
        database_->queryRawEventsMetadataWithFingerprint(*fingerprint, &error);
    if (!bundle) {
        monitor().logWithLevel(1, 23098,
                               "Unable to fetch event metadata. Metadata fingerprint, error",
                               *fingerprint, error);
        // Without a stored metadata row the group can never be bundled and would stop every
        // later bundle: its run goes. A failed read is tried again next time.
        progress = error.ok() && deleteRun(*database_, rows->back().rowID(), *fingerprint);
        return progress;
    }
    RawEventRun run{*fingerprint, rows->back().rowID(), rows->front().rawEvent().timestamp(),
                    rows->front().rawEvent().timestamp()};
    for (const APMRawEventData& row : *rows) {
        run.start = std::min(run.start, row.rawEvent().timestamp());
        run.end = std::max(run.end, row.rawEvent().timestamp());
    }
    std::optional<std::vector<APMEvent>> events = processRawEvents(*rows, *fingerprint);
    if (!events) {
        return false;
    }
    if (events->empty()) {
        progress = true;
        return true;
    }
    progress = queueBundleOnWorkerQueue(*bundle, run, *rows, std::move(*events));
    return progress;
}

bool APMMeasurement::queueBundleOnWorkerQueue(APMPBMeasurementBundle& bundle,
                                              const RawEventRun& run,
                                              const std::vector<APMRawEventData>& rows,
                                              std::vector<APMEvent> events) {
    // Events written while analytics storage was denied stay under that choice when bundled.
    const bool denied = APMConsentSettingsUtil::isAnalyticsStorageDenied() ||
                        APMIsAnalyticsStorageDeniedInSignals(
                            APMPBGetString(&bundle, Bundle::kConsentSignals).value_or(""));
    evaluationTimeFromRawEvents(rows, bundle);
    handleAnalyticsStorageConsentTransitions(bundle);
    APMAudienceTimestampsCache cache;
    std::optional<std::vector<APMEvent>> counted =
        eventsAfterUpdatingEventAggregates(std::move(events), cache, !denied);
    if (!counted) {
        return false;
    }
    std::vector<APMPBEvent> protoEvents;
    bool isRealtime = false;
    for (const APMEvent& event : *counted) {
        protoEvents.push_back(event.protoEvent());
        isRealtime = isRealtime || event.isRealtime();
    }
    if (remoteConfig_->isEventSamplingEnabled() && !monitor().isDebugModeEnabled()) {
        sdk::Error error;
        std::optional<std::vector<APMPBEvent>> sampled =
            sampleEvents(std::move(protoEvents), &error);
        if (!sampled) {
            return false;
        }
        if (sampled->empty()) {
            monitor().logWithLevel(5, 23159, "No events left after sampling. Dropping bundle");
            return deleteRun(*database_, run.lastRowID, run.fingerprint);
        }
        protoEvents = std::move(*sampled);
    }
    APMPBRepeatedArray elements;
    for (const APMPBEvent& event : protoEvents) {
        elements.emplace_back(std::make_shared<APMPBEvent>(event));
    }
    APMPBSetRepeated(&bundle, Bundle::kEvents, elements);
    if (!updateAppMetadataForBundle(bundle, run.start, run.end)) {
        return false;
    }
    if (shouldUpdateNPAUserProperty_) {
        setPersonalizedAdsUserPropertyOnWorkerQueue();
        shouldUpdateNPAUserProperty_ = false;
    }
    if (!denied && !addAudienceResults(bundle, cache, run.start)) {
        return false;
    }
    addBundleMetadataIntoBundle(bundle, run.start, run.end);
    if (!remoteConfig_->sessionStitchingTokenFeatureEnabled() || denied) {
        APMPBClearField(&bundle, Bundle::kSessionStitchingToken);
    }
    return insertBundleAndDeleteRun(bundle, run, isRealtime);
}

bool APMMeasurement::addAudienceResults(APMPBMeasurementBundle& bundle,
                                        APMAudienceTimestampsCache& cache, double evaluationTime) {
    const std::optional<APMPBRepeatedArray> attributes =
        APMPBGetRepeated<APMPBUserAttribute>(&bundle, Bundle::kUserAttributes);
    for (const APMPBRepeatedElement& element : attributes.value_or(APMPBRepeatedArray{})) {
        const auto* attribute = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
        if (attribute != nullptr && *attribute != nullptr &&
            !audience_->evaluateFiltersForNanoUserProperty(
                static_cast<const APMPBUserAttribute&>(**attribute), &cache, evaluationTime)) {
            return false;
        }
    }
    std::optional<std::vector<APMPBAudienceLeafFilterResult>> results;
    if (!audience_->resultsForBundling(results) || !results) {
        monitor().logWithLevel(1, 23113, "Unable to read audience evaluation results");
        return false;
    }
    if (!results->empty()) {
        APMPBRepeatedArray resultElements;
        for (const APMPBAudienceLeafFilterResult& result : *results) {
            resultElements.emplace_back(std::make_shared<APMPBAudienceLeafFilterResult>(result));
        }
        APMPBSetRepeated(&bundle, Bundle::kAudienceEvaluationResults, resultElements);
    }
    return true;
}

bool APMMeasurement::insertBundleAndDeleteRun(const APMPBMeasurementBundle& bundle,
                                              const RawEventRun& run, bool isRealtime) {
    sdk::Error error;
    if (!database_->insertBundle(&bundle, isRealtime, &error)) {
        monitor().logWithLevel(1, 23115, "Unable to insert bundle. Error", error);
        return false;
    }
    monitor().logWithLevel(8, 23221, "Bundle consent signals",
                           APMPBGetString(&bundle, Bundle::kConsentSignals).value_or(""));
    monitor().logWithLevel(7, 23116, "Bundle added to the upload queue. BundleID, timestamp (ms)",
                           static_cast<std::int64_t>(static_cast<std::int32_t>(
                               APMPBGetInt32(&bundle, Bundle::kBundleIndex))),
                           APMPBGetInt64(&bundle, Bundle::kEndTimestampMillis));
    return deleteRun(*database_, run.lastRowID, run.fingerprint);
}

std::optional<std::vector<APMRawEventData>> APMMeasurement::rawEventsWithMetadataFingerprint(
    std::int64_t fingerprint) {
    RunFilter filter(*database_, remoteConfig_->uploadMaxEventsPerBundle(),
                     remoteConfig_->uploadMaxSizeLimitBytes());
    return filter.read(fingerprint);
}

namespace {

// Whether the bundling pass drops the row's event (block lists, redundant engagement).
bool isRejectedRawEvent(const APMEvent& event, APMRemoteConfig& config) {
    const std::string& name = event.name();
    const auto& reserved = APMAllowedReservedEventNames();
    const auto mapped = reserved.find(name);
    const bool hasMapped = mapped != reserved.end();
    if (hasMapped && config.blocklistInternal() && !config.blocklistPublic()) {
        return false;
    }
    if (config.isEventBlocklisted(name) ||
        (hasMapped && config.isEventBlocklisted(mapped->second))) {
        APMMeasurement::monitor().logWithLevel(4, 23099, "Rejected event. Event name",
                                               APMDebugEventName(name));
        return true;
    }
    if (config.redundantEngagementRemovalEnabled() && name == "_e") {
        const auto fr = event.parameters().find("_fr");
        return fr != event.parameters().end() && fr->second.isInt64() &&
               fr->second.int64Value() == 1;
    }
    return false;
}

}  // namespace

std::optional<std::vector<APMEvent>> APMMeasurement::processRawEvents(
    std::vector<APMRawEventData>& rows, std::int64_t fingerprint) {
    const std::int64_t lastRowID = rows.empty() ? 0 : rows.back().rowID();
    std::erase_if(rows, [this](const APMRawEventData& row) {
        return isRejectedRawEvent(row.rawEvent(), *remoteConfig_);
    });
    if (rows.empty()) {
        if (!deleteRun(*database_, lastRowID, fingerprint)) {
            return std::nullopt;
        }
        monitor().logWithLevel(4, 23100, "Rejected all events.");
        return std::vector<APMEvent>{};
    }
    sdk::Error error;
    std::optional<APMDailyCounts> counts = database_->dailyCounts(&error);
    if (!counts) {
        monitor().logWithLevel(1, 23101, "Failed to query daily event counts. Error", error);
        return std::nullopt;
    }
    // The stored counts may be of an earlier day; the limits below are today's.
    if (const std::int32_t today = currentDay(); counts->day() != today) {
        counts->resetWithNewDay(today);
    }
    bool countsChanged = false;
    std::vector<APMEvent> events;
    for (const APMRawEventData& row : rows) {
        APMEvent event = internalEventFromPublicEvent(row.rawEvent());
        countsChanged = checkConversion(event, *counts) || countsChanged;
        countsChanged = checkRealtime(event, *counts) || countsChanged;
        if (event.name() == "_iap" && !event.parameters().contains("sandbox") && APMAEU::isASRS()) {
            event.parameters().insert_or_assign("sandbox", APMValue(std::int64_t{1}));
        }
        events.push_back(std::move(event));
    }
    if (countsChanged && !database_->updateDailyCounts(*counts, &error)) {
        monitor().logWithLevel(2, 23106, "Failed to update daily event counts. Name, error",
                               std::string(), error);
        return std::nullopt;
    }
    return events;
}

APMEvent APMMeasurement::internalEventFromPublicEvent(const APMEvent& event) {
    const auto& reserved = APMAllowedReservedEventNames();
    const auto mapped = reserved.find(event.name());
    if (mapped == reserved.end()) {
        return event;
    }
    APMRawParameters parameters;
    for (const auto& [name, value] : event.parameters()) {
        parameters.emplace(name, value);
    }
    std::optional<APMEvent> internal = APMEvent::initWithOrigin(
        event.origin(), false, mapped->second, event.timestamp(), event.previousTimestamp(),
        parameters, APMRemoteConfig::current()->parameterLimits());
    return internal ? std::move(*internal) : event;
}

bool APMMeasurement::checkConversion(APMEvent& event, APMDailyCounts& counts) {
    if (remoteConfig_->isEventCustomConversion(event.name())) {
        event.setConversion(true, remoteConfig_->parameterLimits());
    }
    if (!APMIsPublicName(event.name()) || !event.isConversion()) {
        return false;
    }
    const std::int32_t limit = remoteConfig_->maxConversionsPerDay();
    if (counts.conversionsCount() < limit) {
        counts.incrementCountsForCurrentDay(currentDay(), false, true);
        // Only the conversion counter grows: the event was counted when it was written.
        counts.decrementAllEventsCount();
        return true;
    }
    event.setConversion(false, remoteConfig_->parameterLimits());
    monitor().logWithLevel(3, 23102,
                           "Too many conversion events. Not logging event as conversion. Name, "
                           "limit",
                           APMDebugEventName(event.name()), static_cast<std::int64_t>(limit));
    return false;
}

bool APMMeasurement::checkRealtime(APMEvent& event, APMDailyCounts& counts) {
    if (!event.isRealtime() && !event.isConversion()) {
        return false;
    }
    const bool debugMode = monitor().isDebugModeEnabled();
    if (isRealtimeLimitedName(event.name(), debugMode)) {
        if (counts.realtimeCount() >= remoteConfig_->maxRealtimeEventCountPerDay()) {
            event.setRealtime(false);
            monitor().logWithLevel(4, 23104,
                                   "Number of real-time events is over the real-time event count "
                                   "daily limit. Event is no longer real-time. Event name, "
                                   "parameters",
                                   APMDebugEventName(event.name()),
                                   APMDebugParametersDescription(event.parameters()));
            return false;
        }
        counts.incrementRealtimeCountsForCurrentDay(currentDay());
        event.setRealtime(true);
        monitor().logWithLevel(7, 23103,
                               "Event is under real-time event count daily limit. Marking the "
                               "event as real-time. Event name, parameters",
                               APMDebugEventName(event.name()),
                               APMDebugParametersDescription(event.parameters()));
        return true;
    }
    if (!debugMode && event.name() == "_dcu") {
        if (counts.dcuRealtimeCount() >= remoteConfig_->maxRealtimeDCUEventCountPerDay()) {
            event.setRealtime(false);
            return false;
        }
        counts.incrementDCURealtimeCountsForCurrentDay(currentDay());
        event.setRealtime(true);
        return true;
    }
    event.setRealtime(true);
    monitor().logWithLevel(7, 23105,
                           "Event is not subject to real-time event count daily limit. Marking "
                           "an event as real-time. Event name, parameters",
                           APMDebugEventName(event.name()),
                           APMDebugParametersDescription(event.parameters()));
    return false;
}
