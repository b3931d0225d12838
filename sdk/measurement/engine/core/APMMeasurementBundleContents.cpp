// What a bundling pass adds to a bundle and records beside it: consent transitions of the
// events table, session-start clears and engagement totals, event aggregates with customer
// types, the running bundle indices in "app_metadata" and the bundle's header fields.
#include "platform/bundle/Bundle.h"
#include "sdk/measurement/audiences/APMAudience.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/core/APMBundleFields.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRawEventData.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

namespace Bundle = apmpb::MeasurementBundle;
namespace UA = apmpb::UserAttribute;

// Seconds to wire milliseconds, truncated toward zero and saturated (NaN gives 0).
std::int64_t millis(double seconds) {
    return *sdk::Value(seconds * 1000.0).numberAsInt();
}

bool isCustomerTypeEvent(std::string_view name) {
    return name == "_iap" || name == "purchase" || name == "ecommerce_purchase";
}

// The stored integer value of the user property `name`, 0 when there is none; no value with
// `error` on a failed query.
std::optional<std::int64_t> storedIntegerProperty(APMDatabase& database, std::string_view name,
                                                  sdk::Error* error) {
    const std::optional<APMUserAttribute> stored = database.userAttributeWithName(name, error);
    if (!stored) {
        return error->ok() ? std::optional<std::int64_t>(0) : std::nullopt;
    }
    return stored->value().value().numberAsInt().value_or(0);
}

// Replaces the bundle's user attribute of the same name by `attribute`, or appends it.
void putUserAttribute(APMPBMeasurementBundle& bundle, const APMPBUserAttribute& attribute) {
    const std::optional<std::string> name = APMPBGetString(&attribute, UA::kName);
    APMPBRepeatedArray attributes =
        APMPBGetRepeated<APMPBUserAttribute>(&bundle, Bundle::kUserAttributes)
            .value_or(APMPBRepeatedArray{});
    bool replaced = false;
    for (APMPBRepeatedElement& element : attributes) {
        auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
        if (message != nullptr && *message != nullptr &&
            APMPBGetString(message->get(), UA::kName) == name) {
            APMPBSetInt64(message->get(), UA::kIntValue, APMPBGetInt64(&attribute, UA::kIntValue));
            APMPBSetInt64(message->get(), UA::kSetTimestampMillis,
                          APMPBGetInt64(&attribute, UA::kSetTimestampMillis));
            replaced = true;
            break;
        }
    }
    if (!replaced) {
        attributes.emplace_back(std::make_shared<APMPBUserAttribute>(attribute));
    }
    APMPBSetRepeated(&bundle, Bundle::kUserAttributes, attributes);
}

}  // namespace

void APMMeasurement::handleAnalyticsStorageConsentTransitions(
    const APMPBMeasurementBundle& metadata) {
    const std::optional<std::string> previous = persistedConfig_->previousBundledConsentSignals();
    const std::optional<std::string> current = APMPBGetString(&metadata, Bundle::kConsentSignals);
    if (previous == current) {
        return;
    }
    const bool wasDenied = APMIsAnalyticsStorageDeniedInSignals(previous.value_or(""));
    const bool isDenied = APMIsAnalyticsStorageDeniedInSignals(current.value_or(""));
    sdk::Error error;
    if (!wasDenied && isDenied && !database_->createEventsSnapshotTable(&error)) {
        monitor().logWithLevel(4, 23266, "Unable to create table snapshot. Error", error);
    } else if (wasDenied && !isDenied && !database_->restoreFromEventsSnapshotTable(&error)) {
        monitor().logWithLevel(4, 23267, "Unable to restore from table snapshot. Error", error);
    }
    persistedConfig_->setPreviousBundledConsentSignals(current);
}

void APMMeasurement::evaluationTimeFromRawEvents(const std::vector<APMRawEventData>& rows,
                                                 APMPBMeasurementBundle& bundle) {
    const bool sessionStart = std::any_of(rows.begin(), rows.end(), [](const APMRawEventData& r) {
        return r.rawEvent().name() == "_s";
    });
    sdk::Error error;
    if (sessionStart) {
        audience_->clearEvaluationResultsForSessionScopedFilters();
        const std::optional<APMPBRepeatedArray> attributes =
            APMPBGetRepeated<APMPBUserAttribute>(&bundle, Bundle::kUserAttributes);
        for (const APMPBRepeatedElement& element : attributes.value_or(APMPBRepeatedArray{})) {
            const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
            if (message != nullptr && *message != nullptr &&
                !audience_->evaluateFiltersForNanoUserProperty(
                    static_cast<const APMPBUserAttribute&>(**message), nullptr, std::nullopt)) {
                return;
            }
        }
        if (!database_->clearCurrentSessionCounts(&error)) {
            monitor().logWithLevel(1, 23185, "Failed to clear event session counts. Error", error);
            return;
        }
    }
    std::int64_t engagement = 0;
    for (const APMRawEventData& row : rows) {
        const APMParameters& parameters = row.rawEvent().parameters();
        const auto et = parameters.find("_et");
        if (et != parameters.end() && et->second.isInt64() && !parameters.contains("_fr")) {
            engagement = sdk::Value(static_cast<double>(engagement) +
                                    static_cast<double>(et->second.int64Value()))
                             .numberAsInt()
                             .value_or(0);
        }
    }
    if (!updateUserEngagement(engagement, bundle, false)) {
        return;
    }
    if (sessionStart) {
        if (!database_->deleteUserAttributeWithName("_se", &error)) {
            monitor().logWithLevel(
                1, 23188, "Unable to delete session engagement property on session start. Error",
                error);
            return;
        }
    }
    updateUserEngagement(engagement, bundle, true);
}

bool APMMeasurement::updateUserEngagement(std::int64_t engagementMs, APMPBMeasurementBundle& bundle,
                                          bool sessionScoped) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("updateUserEngagement");
    if (engagementMs < 0) {
        monitor().logWithLevel(2, 23186, "User engagement time is negative.");
        return false;
    }
    if (engagementMs == 0) {
        return true;
    }
    const std::string name = sessionScoped ? "_se" : "_lte";
    sdk::Error error;
    const std::optional<std::int64_t> stored = storedIntegerProperty(*database_, name, &error);
    if (!stored) {
        monitor().logWithLevel(1, 23187,
                               "Failed to query for user engagement user property. Name, error",
                               name, error);
        return false;
    }
    const std::int64_t total = *stored > std::numeric_limits<std::int64_t>::max() - engagementMs
                                   ? std::numeric_limits<std::int64_t>::max()
                                   : *stored + engagementMs;
    const std::optional<APMUserAttribute> attribute =
        APMUserAttribute::initWithOrigin("auto", name, APMValue(total), APMCurrentTimeInterval());
    if (!attribute || !database_->updateUserAttribute(&*attribute, &error)) {
        return false;
    }
    putUserAttribute(bundle, attribute->protoUserAttribute());
    return true;
}

std::optional<std::vector<APMEvent>> APMMeasurement::eventsAfterUpdatingEventAggregates(
    std::vector<APMEvent> events, APMAudienceTimestampsCache& cache,
    bool allowEventFilterEvaluation) {
    const APMParameterLimits limits = remoteConfig_->parameterLimits();
    std::vector<APMEvent> updated;
    for (const APMEvent& original : events) {
        APMEvent event = purchaseEventWithCustomerTypeParam(original);
        sdk::Error error;
        std::optional<APMEventAggregates> aggregates =
            database_->eventAggregatesWithName(event.name(), &error);
        if (!aggregates && !error.ok()) {
            monitor().logWithLevel(1, 23107, "Failed to query event aggregates. Name, error",
                                   APMDebugEventName(event.name()), error);
            return std::nullopt;
        }
        if (aggregates) {
            if (std::optional<APMEvent> copy =
                    event.copyWithPreviousTimestamp(aggregates->lastFireTimestamp(), limits)) {
                event = std::move(*copy);
            }
            aggregates->incrementCurrentBundleCount();
            aggregates->incrementLifetimeCount();
            aggregates->incrementCurrentSessionCount();
            aggregates->setLastFireTimestamp(event.timestamp());
        } else {
            aggregates = APMEventAggregates(event.name(), 1, 1, 1, event.timestamp());
        }
        if (!database_->updateEventAggregates(aggregates, &error)) {
            monitor().logWithLevel(1, 23108, "Failed to update event aggregates. Error", error);
            return std::nullopt;
        }
        if (allowEventFilterEvaluation &&
            !audience_->evaluateFiltersForEvent(event, *aggregates, cache)) {
            return std::nullopt;
        }
        updated.push_back(std::move(event));
    }
    return updated;
}

APMEvent APMMeasurement::purchaseEventWithCustomerTypeParam(const APMEvent& event) {
    if (!remoteConfig_->customerTypeEnabled() || !isCustomerTypeEvent(event.name())) {
        return event;
    }
    sdk::Error error;
    const std::optional<std::vector<APMEventAggregates>> all =
        database_->allEventAggregates(&error);
    if (!all) {
        monitor().logWithLevel(1, 23274, "Failed to query all event aggregates. Error", error);
        return event;
    }
    const bool returning = std::any_of(all->begin(), all->end(), [](const APMEventAggregates& a) {
        return isCustomerTypeEvent(a.name()) && a.lifetimeCount() > 0;
    });
    APMEvent typed = event;
    typed.parameters().insert_or_assign("_ct", APMValue(returning ? "returning" : "new"));
    return typed;
}

bool APMMeasurement::updateAppMetadataForBundle(APMPBMeasurementBundle& bundle,
                                                double bundleStartTimestamp,
                                                double bundleEndTimestamp) {
    sdk::Error error;
    std::optional<APMAppMetadata> metadata = database_->queryAppMetadata(&error);
    if (!metadata) {
        monitor().logWithLevel(1, 23111, "Unable to fetch app metadata for bundling events. Error",
                               error);
        return false;
    }
    const double previousStart = metadata->lastBundleStartTimestamp();
    const double previousEnd = metadata->lastBundleEndTimestamp();
    if (previousEnd > 0) {
        APMPBSetInt64(&bundle, Bundle::kPreviousBundleEndTimestampMillis, millis(previousEnd));
    }
    if (previousStart > 0 || previousEnd > 0) {
        APMPBSetInt64(&bundle, Bundle::kPreviousBundleStartTimestampMillis,
                      millis(previousStart > 0 ? previousStart : previousEnd));
    }
    const std::optional<APMPBRepeatedArray> events =
        APMPBGetRepeated<APMPBEvent>(&bundle, Bundle::kEvents);
    metadata->increaseLastBundleIndex(
        static_cast<std::int64_t>(events.value_or(APMPBRepeatedArray{}).size()));
    metadata->incrementLastDeliveryIndex();
    metadata->setLastBundleStartTimestamp(bundleStartTimestamp);
    metadata->setLastBundleEndTimestamp(bundleEndTimestamp);
    APMPBSetInt32(&bundle, Bundle::kBundleIndex,
                  static_cast<std::uint32_t>(metadata->lastBundleIndex()));
    APMPBSetInt32(&bundle, Bundle::kDeliveryIndex,
                  static_cast<std::uint32_t>(metadata->lastDeliveryIndex()));
    if (!database_->updateAppMetadata(metadata, &error)) {
        monitor().logWithLevel(1, 23112, "Unable to update the app metadata. Error", error);
        return false;
    }
    return true;
}

void APMMeasurement::addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle,
                                                 double bundleStartTimestamp,
                                                 double bundleEndTimestamp) {
    const std::vector<std::int64_t> experiments = remoteConfig_->experimentIDs();
    if (!experiments.empty()) {
        APMPBRepeatedArray ids(experiments.size());
        for (std::size_t i = 0; i < experiments.size(); ++i) {
            ids[i] = sdk::Value(experiments[i]);
        }
        APMPBSetRepeated(&bundle, Bundle::kExperimentIds, ids);
    }
    const std::optional<std::string> monitoringData =
        monitor().monitoringDataForDispatch(remoteConfig_->monitoringSamplePeriod(),
                                            persistedConfig_->lastMonitorDataSampledTimestamp());
    if (monitoringData && !monitoringData->empty()) {
        APMPBSetString(&bundle, Bundle::kMonitoringData, *monitoringData);
        persistedConfig_->setLastMonitorDataSampledTimestamp(APMCurrentTimeInterval());
    }
    if (const std::int64_t version = remoteConfig_->version(); version >= 0) {
        APMPBSetInt64(&bundle, Bundle::kConfigVersion, version);
    }
    if (APMPBGetString(&bundle, Bundle::kAppId).value_or("").empty()) {
        const std::optional<std::string>& identityAppID = identity_->appID();
        APMPBSetString(&bundle, Bundle::kAppId,
                       identityAppID && !identityAppID->empty()
                           ? *identityAppID
                           : platform::Bundle::mainBundleIdentifier());
    }
    APMPBSetInt64(&bundle, Bundle::kStartTimestampMillis, millis(bundleStartTimestamp));
    APMPBSetInt64(&bundle, Bundle::kEndTimestampMillis, millis(bundleEndTimestamp));
}
