// User properties on the worker queue: setting within each origin's limit, removing, reading,
// the user ID's side effects, "_lair" and the ad campaign info kept from "_vbraid".
#include <algorithm>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

// The most user properties of one origin other than the app's public ones.
constexpr std::int32_t kMaxUserPropertiesPerOrigin = 25;
// Error event of a property refused at its origin's limit.
constexpr std::int64_t kErrorUserPropertyLimitReached = 9;

// Internal names, reserved prefixes and reserved public names: never listed to the app.
bool isInternalOrReserved(const std::string& name) {
    const auto& reserved = APMReservedUserPropertyNames();
    return !APMIsPublicName(name) || APMDataTypeValidator::hasReservedPrefixes(name) ||
           reserved.find(name) != reserved.end();
}

// The stored properties a new `attribute` is counted with: the public ones for a public name,
// else those of its origin.
std::int64_t propertiesCountingTowardsLimit(const std::vector<APMUserAttribute>& stored,
                                            const APMUserAttribute& attribute) {
    return std::count_if(stored.begin(), stored.end(), [&](const APMUserAttribute& a) {
        return attribute.isPublic() ? a.isPublic() : a.origin() == attribute.origin();
    });
}

sdk::Error databaseNotOpen() {
    return apm_errorWithCode(2, "Database not open.");
}

}  // namespace

// The stored rows
// ------------------------------------------------------------------------------------------

std::optional<std::vector<APMUserAttribute>> APMMeasurement::storedUserAttributes(
    sdk::Error* error) {
    if (!database_) {
        *error = databaseNotOpen();
        return std::nullopt;
    }
    return database_->userAttributesIncludingInternal(true, error);
}

std::optional<APMUserAttribute> APMMeasurement::storedUserAttributeWithName(std::string_view name,
                                                                            sdk::Error* error) {
    if (!database_) {
        *error = databaseNotOpen();
        return std::nullopt;
    }
    return database_->userAttributeWithName(name, error);
}

bool APMMeasurement::storeUserAttribute(const APMUserAttribute& attribute, sdk::Error* error) {
    if (!database_) {
        *error = databaseNotOpen();
        return false;
    }
    return database_->updateUserAttribute(&attribute, error);
}

bool APMMeasurement::deleteStoredUserAttribute(std::string_view name, sdk::Error* error) {
    if (!database_) {
        *error = databaseNotOpen();
        return false;
    }
    return database_->deleteUserAttributeWithName(name, error);
}

// Setting and removing
// -------------------------------------------------------------------------------------

void APMMeasurement::setUserAttribute(std::optional<APMUserAttribute> attribute) {
    if (!attribute) {
        monitor().logWithLevel(3, 23079, "Attempted to set nil user property");
        return;
    }
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:3011", [weak, attribute = *attribute] {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
            engine->setUserAttributeOnWorkerQueue(attribute);
        }
    });
}

void APMMeasurement::removeUserAttribute(std::optional<APMUserAttribute> attribute) {
    if (!attribute) {
        monitor().logWithLevel(3, 23074, "Attempted to remove nil user property");
        return;
    }
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:2966", [weak, attribute = *attribute] {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
            engine->removeUserAttributeOnWorkerQueue(attribute);
        }
    });
}

void APMMeasurement::setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute) {
    if (!isEnabled()) {
        monitor().logWithLevel(7, 23081, "Analytics is disabled. User property not set");
        return;
    }
    setUserPropertyInDatabaseOnWorkerQueue(attribute);
}

bool APMMeasurement::setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("setUserPropertyInDatabaseOnWorkerQueue:");
    const std::string& name = attribute.name();
    sdk::Error error;
    std::optional<std::vector<APMUserAttribute>> all =
        database_ ? storedUserAttributes(&error) : std::nullopt;
    if (!all) {
        monitor().logWithLevel(1, 23082, "Unable to query existence of user property. Name, error",
                               name, error.ok() ? databaseNotOpen() : error);
        return false;
    }
    const auto stored = std::find_if(all->begin(), all->end(),
                                     [&](const APMUserAttribute& a) { return a.name() == name; });
    const bool isNew = stored == all->end();
    if (isNew && propertiesCountingTowardsLimit(*all, attribute) >=
                     (attribute.isPublic() ? remoteConfig_->maxPublicUserProperties()
                                           : kMaxUserPropertiesPerOrigin)) {
        monitor().logWithLevel(3, 23084,
                               "Unable to set user property. Reached limit on set user "
                               "properties for origin. Origin, name, value",
                               attribute.origin(), name, attribute.value().description());
        logErrorEvent(kErrorUserPropertyLimitReached, name,
                      APMDataTypeValidator::kMaxUserPropertyNameLength);
        return false;
    }
    if (!storeUserAttribute(attribute, &error)) {
        monitor().logWithLevel(1, 23085, "Unable to set user property. Name, value, error", name,
                               attribute.value().description(), error);
        return false;
    }
    // Side effects only of a property that was stored, so a refused one changes nothing.
    if (name == "_id" && (isNew || !(stored->value() == attribute.value()))) {
        // Another user: the visit no longer continues, and the advertising-ID reset was theirs.
        identity_->resetSessionStitchingToken();
        if (sdk::Error deleteError; !deleteStoredUserAttribute("_lair", &deleteError)) {
            monitor().logWithLevel(1, 23077, "Unable to remove user property. Name, error", "_lair",
                                   deleteError);
        }
    }
    if (name == "_npa") {
        updateAdPersonalizationConsentFromNPAValue(attribute.value().int64Value());
    }
    monitor().logWithLevel(7, 23087, "User property set. Name, value", name,
                           attribute.value().description());
    return true;
}

void APMMeasurement::removeUserAttributeOnWorkerQueue(const APMUserAttribute& attribute) {
    if (!isEnabled()) {
        monitor().logWithLevel(7, 23076, "Analytics is disabled. User property not removed");
        return;
    }
    if (attribute.name() == "_id") {
        identity_->resetSessionStitchingToken();
    }
    if (sdk::Error error; !deleteStoredUserAttribute(attribute.name(), &error)) {
        monitor().logWithLevel(1, 23077, "Unable to remove user property. Name, error",
                               attribute.name(), error);
        return;
    }
    monitor().logWithLevel(7, 23078, "User property removed. Name", attribute.name());
}

// Queries
// ---------------------------------------------------------------------------------------------------

void APMMeasurement::userAttributeWithName(
    std::string name, std::function<void(std::optional<APMUserAttribute>)> callback) {
    if (!callback) {
        monitor().logWithLevel(0, 23088, "userAttributeWithName callback is nil");
        return;
    }
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:3152", [weak, name = std::move(name),
                                                              callback = std::move(callback)] {
        std::shared_ptr<APMMeasurement> engine = weak.lock();
        if (!engine) {
            return;
        }
        sdk::Error error;
        std::optional<APMUserAttribute> attribute =
            engine->storedUserAttributeWithName(name, &error);
        if (!error.ok()) {
            monitor().logWithLevel(1, 23089, "Unable to get user attribute by name. Name", name);
        }
        callback(std::move(attribute));
    });
}

void APMMeasurement::userPropertiesIncludingInternal(
    bool includeInternal, std::function<void(sdk::Value::Dictionary)> callback) {
    if (!callback) {
        monitor().logWithLevel(0, 23090, "Unable to retrieve user properties. Callback is nil");
        return;
    }
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:3207", [weak, includeInternal,
                                                              callback = std::move(callback)] {
        std::shared_ptr<APMMeasurement> engine = weak.lock();
        if (!engine) {
            return;
        }
        sdk::Error error = databaseNotOpen();
        const std::optional<std::vector<APMUserAttribute>> all =
            engine->database_ ? engine->storedUserAttributes(&error) : std::nullopt;
        if (!all) {
            monitor().logWithLevel(1, 23091, "Unable to retrieve user properties. Error", error);
        }
        sdk::Value::Dictionary properties;
        for (const APMUserAttribute& attribute : all.value_or(std::vector<APMUserAttribute>{})) {
            if (!includeInternal) {
                if (isInternalOrReserved(attribute.name())) {
                    continue;
                }
                if (!APMDataTypeValidator::isValidPublicUserAttributeName(attribute.name(),
                                                                          nullptr) ||
                    !APMDataTypeValidator::isValidPublicUserAttributeValue(&attribute.value(),
                                                                           nullptr)) {
                    monitor().logWithLevel(3, 23092,
                                           "Cannot add invalid public user property name or value.",
                                           attribute.name());
                    continue;
                }
            }
            properties.insert_or_assign(attribute.name(), attribute.value().value());
        }
        callback(std::move(properties));
    });
}

void APMMeasurement::maxUserPropertiesForOrigin(std::string_view origin,
                                                std::function<void(std::int32_t)> callback) {
    if (origin.empty()) {
        monitor().logWithLevel(0, 23093, "Origin for querying MaxUserProperties cannot be nil");
        return;
    }
    if (!callback) {
        monitor().logWithLevel(0, 23094, "MaxUserProperties callback cannot be nil. Origin",
                               origin);
        return;
    }
    platform::DispatchQueue::global()->async(
        [callback = std::move(callback)] { callback(kMaxUserPropertiesPerOrigin); });
}

bool APMMeasurement::hasUserPropertyUserIDOnWorkerQueue() {
    sdk::Error error;
    return storedUserAttributeWithName("_id", &error).has_value();
}

// "_lair" and "_vbraid"
// --------------------------------------------------------------------------------------

void APMMeasurement::setLastAdvertisingIDResetUserPropertyOnWorkerQueue() {
    sdk::Error error;
    if (!hasUserPropertyUserIDOnWorkerQueue() ||
        storedUserAttributeWithName("_lair", &error).has_value() || !error.ok()) {
        return;
    }
    std::optional<APMUserAttribute> reset = APMUserAttribute::initWithOrigin(
        "auto", "_lair", APMValue(std::int64_t{1}), APMCurrentTimeInterval());
    if (reset && setUserPropertyInDatabaseOnWorkerQueue(*reset)) {
        identity_->setShouldSetLastAdvertisingIDResetUserProperty(false);
    }
}

void APMMeasurement::updateCachedAdCampaignInfoWithExistingVBRAIDProperty() {
    const std::optional<sdk::Value> cached = persistedConfig_->adCampaignInfoBuffer();
    if (cached && cached->bytes() && !cached->bytes()->empty()) {
        return;
    }
    sdk::Error error;
    const std::optional<APMUserAttribute> clickID = storedUserAttributeWithName("_vbraid", &error);
    const std::string* text = clickID ? clickID->value().stringValue() : nullptr;
    if (text == nullptr) {
        return;
    }
    APMPBAdCampaignInfo info;
    APMPBSetString(&info, apmpb::AdCampaignInfo::kVbraid, *text);
    APMPBSetInt64(&info, apmpb::AdCampaignInfo::kClickTimestampMillis,
                  sdk::Value(clickID->lastSetTimestamp() * 1000).numberAsInt().value_or(0));
    if (const std::optional<sdk::Bytes> buffer = info.protoBuffer()) {
        persistedConfig_->setAdCampaignInfoBuffer(sdk::Value(*buffer));
    }
}
