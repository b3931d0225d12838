// Default event parameters: kept in the persisted configuration, merged into every event, and
// back-filled into the events already stored when they arrive before the app's first event of
// a launch. Also the session-ID back-fill of a session start.
#include <algorithm>
#include <map>
#include <vector>

#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

// Error events of refused defaults.
constexpr std::int64_t kErrorTooManyDefaultParameters = 26;
constexpr std::int64_t kErrorArrayDefaultParameter = 27;
constexpr std::int32_t kErrorNameLimit = 40;
// Without a first open, a session's events are looked for this far before its start.
constexpr double kSessionBackfillLookBack = 15.0;

std::string describe(const sdk::Value::Dictionary& parameters) {
    return APMDebugParametersDescriptionWithIndent(parameters, "");
}

// Merges `parameters` into `defaults`: a null value removes its entry, a valid value replaces
// it, anything else is left out (bad names and kinds logged). The names of the array values
// left out are returned, for their error events.
std::vector<std::string> mergeDefaultParameters(sdk::Value::Dictionary& defaults,
                                                const sdk::Value::Dictionary& parameters,
                                                std::int32_t maxValueLength) {
    APMMonitor& monitor = APMMeasurement::monitor();
    std::vector<std::string> arrays;
    for (const auto& [name, value] : parameters) {
        if (!value.isNull() && !value.isNumber() && !value.isString()) {
            monitor.logWithLevel(
                4, 23213, "Invalid key in default event parameters. Parameter ignored.", name);
            if (value.isArray()) {
                arrays.push_back(name);
            }
            continue;
        }
        if (!APMDataTypeValidator::isValidPublicEventParameterName(name, nullptr)) {
            monitor.logWithLevel(4, 23214, "Invalid default event parameter name. Name", name);
            continue;
        }
        if (value.isNull()) {
            defaults.erase(name);
            continue;
        }
        const std::optional<APMValue> converted = APMValue::valueFromObject(&value);
        if (converted && APMDataTypeValidator::isValidPublicEventParameterValue(
                             &*converted, maxValueLength, nullptr)) {
            defaults.insert_or_assign(name, converted->value());
        }
    }
    return arrays;
}

// Whether the metadata's user properties hold a session ID.
bool metadataHasSessionID(const APMPBMeasurementBundle& metadata) {
    bool found = false;
    APMPBVisitRepeatedMessages(&metadata, apmpb::MeasurementBundle::kUserAttributes,
                               [&](const NANOMessageBase& attribute) {
                                   found =
                                       APMPBGetString(&attribute, apmpb::UserAttribute::kName) ==
                                       std::optional<std::string>("_sid");
                                   return !found;
                               });
    return found;
}

}  // namespace

void APMMeasurement::setDefaultEventParameters(std::optional<sdk::Value::Dictionary> parameters) {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue(
        "APMMeasurement:2590", [weak, parameters = std::move(parameters)] {
            if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                engine->handleSetDefaultEventParametersOnWorkerQueue(
                    parameters, engine->shouldBackfillEvents());
            }
        });
}

void APMMeasurement::handleSetDefaultEventParametersOnWorkerQueue(
    const std::optional<sdk::Value::Dictionary>& parameters, bool backfillEvents) {
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        "handleSetDefaultEventParametersOnWorkerQueue:");
    sdk::Value::Dictionary result;
    if (parameters) {
        result = persistedConfig_->defaultEventParameters().value_or(result);
        for (const std::string& name : mergeDefaultParameters(
                 result, *parameters, remoteConfig()->maxPublicEventParameterValueLength())) {
            logErrorEvent(kErrorArrayDefaultParameter, name, kErrorNameLimit);
        }
    }
    const std::size_t limit =
        static_cast<std::size_t>(std::max(remoteConfig()->maxPublicEventParams(), 0));
    if (result.size() > limit) {
        // The names that sort last go, as when an event has too many parameters.
        result.erase(std::next(result.begin(), static_cast<std::ptrdiff_t>(limit)), result.end());
        logErrorEvent(kErrorTooManyDefaultParameters, {}, 0);
        monitor().logWithLevel(4, 23215,
                               "Too many default event parameters set. Discarding beyond event "
                               "parameter limit");
    }
    if (backfillEvents) {
        const double since = initTimestamp_;
        backfillEventsWithParameters(
            APMRawParametersFromDictionary(result), true,
            [since](const APMRawEventData& data) { return data.rawEvent().timestamp() >= since; });
        monitor().logWithLevel(7, 23272,
                               "Updating default event parameters with backfill. Parameters",
                               describe(result));
    } else {
        monitor().logWithLevel(7, 23216, "Updating default event parameters. Parameters",
                               describe(result));
    }
    persistedConfig_->setDefaultEventParameters(result);
}

bool APMMeasurement::shouldBackfillEvents() {
    if (!database_) {
        return false;
    }
    sdk::Error error;
    const std::optional<std::vector<APMRawEventData>> events =
        database_->allRawEventsWithError(&error);
    if (!events || events->empty()) {
        return false;
    }
    for (const APMRawEventData& data : *events) {
        if (data.rawEvent().timestamp() >= initTimestamp_ &&
            data.rawEvent().origin().starts_with("app")) {
            return false;
        }
    }
    return true;
}

void APMMeasurement::backfillEventsWithParameters(
    const APMRawParameters& parameters, bool isPublic,
    const std::function<bool(const APMRawEventData&)>& eventFilter) {
    sdk::Error error;
    const std::optional<std::vector<APMRawEventData>> events =
        database_ ? database_->allRawEventsWithError(&error) : std::nullopt;
    if (!events) {
        monitor().logWithLevel(1, 23270,
                               "Unable to backfill events with default event parameters. Fetch "
                               "failed. Error",
                               error);
        return;
    }
    const APMParameterLimits limits = APMRemoteConfig::current()->parameterLimits();
    std::int64_t failed = 0;
    sdk::Error lastError;
    for (const APMRawEventData& data : *events) {
        if (!eventFilter(data)) {
            continue;
        }
        APMEvent event = data.rawEvent();
        event.applyParameters(parameters, isPublic, limits);
        const std::optional<APMRawEventData> updated =
            APMRawEventData::initWithRawEvent(&event, data.rowID(), data.metadataFingerprint());
        if (sdk::Error updateError;
            !updated || !database_->updateRawEvent(&*updated, &updateError)) {
            ++failed;
            lastError = updateError;
        }
    }
    if (failed != 0) {
        monitor().logWithLevel(1, 23271,
                               "Unable to backfill some events with default event parameters. "
                               "Update failed. Count, last error",
                               failed, lastError);
    }
}

APMRawParameters APMMeasurement::parametersWithAddedDefaultEventParameters(
    const APMRawParameters& parameters) {
    const std::optional<sdk::Value::Dictionary> defaults =
        persistedConfig_->defaultEventParameters();
    if (!defaults || defaults->empty()) {
        return parameters;
    }
    APMRawParameters merged = APMRawParametersFromDictionary(*defaults);
    for (const auto& [name, value] : parameters) {
        merged.insert_or_assign(name, value);
    }
    return merged;
}

// Session-ID back-fill
// ---------------------------------------------------------------------------------------

double APMMeasurement::backfillStartTimestampForSessionID(double sessionID) {
    sdk::Error error;
    const std::optional<std::vector<APMRawEventData>> events =
        database_ ? database_->allRawEventsWithError(&error) : std::nullopt;
    for (const APMRawEventData& data : events.value_or(std::vector<APMRawEventData>{})) {
        if (data.rawEvent().name() == "_f") {
            return data.rawEvent().timestamp();
        }
    }
    return sessionID - kSessionBackfillLookBack;
}

void APMMeasurement::backfillSessionID(const sdk::Value& sessionID,
                                       const sdk::Value& sessionNumber) {
    const std::optional<APMValue> sid = APMValue::valueFromObject(&sessionID);
    const std::optional<APMValue> sno = APMValue::valueFromObject(&sessionNumber);
    const std::optional<double> sessionStart = sessionID.numberAsDouble();
    if (!sid || !sno || !sessionStart) {
        return;
    }
    const double start = backfillStartTimestampForSessionID(*sessionStart);
    // Events written under the same metadata share the answer; read each metadata once.
    std::map<std::int64_t, bool> hasSessionID;
    const auto shouldBackfill = [&](const APMRawEventData& data) {
        if (data.rawEvent().timestamp() < start) {
            return false;
        }
        const auto known = hasSessionID.find(data.metadataFingerprint());
        if (known != hasSessionID.end()) {
            return !known->second;
        }
        sdk::Error error;
        const std::unique_ptr<APMPBMeasurementBundle> metadata =
            database_->queryRawEventsMetadataWithFingerprint(data.metadataFingerprint(), &error);
        if (!metadata) {
            monitor().logWithLevel(
                1, 23273, "Unable to backfill session ID. Fetch metadata failed. Error", error);
            return false;
        }
        const bool found = metadataHasSessionID(*metadata);
        hasSessionID.emplace(data.metadataFingerprint(), found);
        return !found;
    };
    backfillEventsWithParameters({{"_sid", *sid}, {"_sno", *sno}}, false, shouldBackfill);
}
