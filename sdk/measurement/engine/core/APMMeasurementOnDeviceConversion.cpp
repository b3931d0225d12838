// Private-set-membership matching: the engine queries a client library's data set with the
// user's e-mail address or phone number (plain or hashed), retries with back-off and keeps a
// match as "_psmvalue", announced with "_fx". Everything runs on the worker queue.
#include <algorithm>
#include <cmath>
#include <string>

#include "platform/process/ProcessArguments.h"
#include "sdk/measurement/attribution/APMPSMContext.h"
#include "sdk/measurement/attribution/APMPrivateSetMembershipClient.h"
#include "sdk/measurement/engine/APMAEU.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

constexpr std::string_view kPSMValueProperty = "_psmvalue";
constexpr std::string_view kODM1Value = "odm1_value";
constexpr std::string_view kODM1SessionValue = "odm1_session_value";
constexpr std::string_view kDebugArgument = "-DebugOnDeviceConversionMeasurement";
// A stored match expires after 90 days.
constexpr double kPSMValueExpirySeconds = 7776000.0;
constexpr double kSecondsPerDay = 86400.0;

// The request counter of an input type: its user property and its URL parameter.
struct PSMCounter {
    std::string_view property;
    std::string_view parameter;
};

PSMCounter counterForInputType(std::int64_t inputType) {
    switch (inputType) {
        case APMPrivateSetMembershipClient::kInputTypePhoneNumber:
            return {"_psmcountph", "psm_phone_count"};
        case APMPrivateSetMembershipClient::kInputTypeHashedEmailAddress:
            return {"_psmcounth", "psm_count"};
        case APMPrivateSetMembershipClient::kInputTypeHashedPhoneNumber:
            return {"_psmcounthph", "psm_phone_count"};
        default:
            return {"_psmcount", "psm_count"};
    }
}

constexpr std::string_view kCounterProperties[] = {"_psmcount", "_psmcountph", "_psmcounth",
                                                   "_psmcounthph"};

// "&name=value", or nothing when either is empty.
void appendParameter(std::string& url, std::string_view name, std::string_view value) {
    if (name.empty() || value.empty()) {
        return;
    }
    url.append("&").append(name).append("=").append(value);
}

}  // namespace

// Libraries -----------------------------------------------------------------------------------

std::shared_ptr<const APMPrivateSetMembershipClientClass> APMMeasurement::PSMClientClass() {
    if (!deprecatedPSMClientRefused_) {
        if (auto found = VDUClassRegistry::classNamed<APMPrivateSetMembershipClientClass>(
                APMPrivateSetMembershipClientClass::kDeprecatedClassName)) {
            return found;
        }
    }
    return VDUClassRegistry::classNamed<APMPrivateSetMembershipClientClass>(
        APMPrivateSetMembershipClientClass::kClassName);
}

bool APMMeasurement::isAPMPrivateSetMembershipClientLinked() {
    return PSMClientClass() != nullptr;
}

APMPSMContext* APMMeasurement::PSMContextIfLinked() {
    if (!PSMClientClass()) {
        return nullptr;
    }
    if (!ODM1Context_) {
        ODM1Context_ = std::make_shared<APMPSMContext>();
    }
    return ODM1Context_.get();
}

void APMMeasurement::checkPSMDependencyOnWorkerQueue() {
    if (PSMClientClass()) {
        ODM1Context_ = std::make_shared<APMPSMContext>();
        monitor().logWithLevel(7, 23253, "On-device conversion measurement is ready to initiate");
        return;
    }
    sdk::Error error;
    const bool hasCounter = storedUserAttributeWithName("_psmcount", &error).has_value() ||
                            storedUserAttributeWithName("_psmcountph", &error).has_value();
    if (hasCounter) {
        monitor().logWithLevel(4, 23254,
                               "On-device conversion measurement dependency is not currently "
                               "linked. On-device conversion measurement will fail to initiate.");
    }
}

// Initiation ----------------------------------------------------------------------------------

void APMMeasurement::initiateODM1ProtocolWithUserData(const sdk::Value::Dictionary& userData) {
    std::shared_ptr<APMPrivateSetMembershipClient> client;
    if (const auto found = userData.find("email_address"); found != userData.end()) {
        const std::string emailAddress = found->second.string() ? *found->second.string() : "";
        if (shouldRetrievePSMResponseWithEmailAddress(emailAddress)) {
            client = PSMClientWithEmailAddress(emailAddress);
        }
    }
    if (const auto found = userData.find("phone_number"); !client && found != userData.end()) {
        const std::string phoneNumber = found->second.string() ? *found->second.string() : "";
        if (shouldRetrievePSMResponseWithPhoneNumber(phoneNumber)) {
            client = PSMClientWithPhoneNumber(phoneNumber);
        }
    }
    if (const auto found = userData.find("hashed_email_address");
        !client && found != userData.end()) {
        const sdk::Bytes hashed = found->second.bytes() ? *found->second.bytes() : sdk::Bytes{};
        if (shouldRetrievePSMResponseWithHashedIdentifier(hashed)) {
            client = PSMClientWithHashedEmailAddress(hashed);
        }
    }
    if (const auto found = userData.find("hashed_phone_number");
        !client && found != userData.end()) {
        const sdk::Bytes hashed = found->second.bytes() ? *found->second.bytes() : sdk::Bytes{};
        if (shouldRetrievePSMResponseWithHashedIdentifier(hashed)) {
            client = PSMClientWithHashedPhoneNumber(hashed);
        }
    }
    APMPSMContext* context = client ? PSMContextIfLinked() : nullptr;
    if (context == nullptr) {
        return;
    }
    context->PSMClient = std::move(client);
    monitor().logWithLevel(7, 23225, "Initiated on-device conversion measurement");
    context->PSMRetryCount = 0;
    context->PSMStartCount += 1;
    context->sessionStartTimestamp = 0;
    retrievePSMResponse();
}

bool APMMeasurement::shouldRetrievePSMResponseWithEmailAddress(const std::string& emailAddress) {
    if (emailAddress.empty()) {
        monitor().logWithLevel(1, 23234,
                               "Failed to initiate on-device conversion measurement. Email "
                               "address was empty.");
        return false;
    }
    return shouldRetrievePSMResponse();
}

bool APMMeasurement::shouldRetrievePSMResponseWithPhoneNumber(const std::string& phoneNumber) {
    if (phoneNumber.empty()) {
        monitor().logWithLevel(1, 23239,
                               "Failed to initiate on-device conversion measurement. Phone "
                               "number was empty.");
        return false;
    }
    if (const auto library = PSMClientClass(); library && !library->supportsPhoneNumbers()) {
        monitor().logWithLevel(1, 23262,
                               "Failed to initiate on-device conversion measurement. Linked "
                               "on-device conversion measurement dependency does not support "
                               "phone numbers.");
        return false;
    }
    return shouldRetrievePSMResponse();
}

bool APMMeasurement::shouldRetrievePSMResponseWithHashedIdentifier(
    const sdk::Bytes& hashedIdentifier) {
    if (hashedIdentifier.empty()) {
        monitor().logWithLevel(1, 23264,
                               "Failed to initiate on-device conversion measurement. Hashed "
                               "identifier was empty.");
        return false;
    }
    if (const auto library = PSMClientClass(); library &&
                                               !library->supportsHashedEmailAddresses() &&
                                               !library->supportsHashedPhoneNumbers()) {
        monitor().logWithLevel(1, 23265,
                               "Failed to initiate on-device conversion measurement. Linked "
                               "on-device conversion measurement dependency does not support "
                               "hashed identifiers.");
        return false;
    }
    return shouldRetrievePSMResponse();
}

bool APMMeasurement::shouldRetrievePSMResponse() {
    APMPSMContext* context = PSMContextIfLinked();
    if (context == nullptr) {
        monitor().logWithLevel(1, 23233,
                               "Failed to initiate on-device conversion measurement. On-device "
                               "conversion measurement dependency not linked in.");
        return false;
    }
    const std::int64_t firstOpenMs = persistedConfig_->firstOpenTimestampMilliseconds();
    const double firstOpen =
        firstOpenMs != 0 ? static_cast<double>(firstOpenMs) / 1000.0 : initTimestamp_;
    if (std::fabs(APMCurrentTimeInterval() - firstOpen) >
        remoteConfig_->maxSignInDelayInDays() * kSecondsPerDay) {
        monitor().logWithLevel(1, 23261,
                               "Failed to initiate on-device conversion measurement. Attempted "
                               "to initiate outside the first open window.");
        return false;
    }
    if (context->isPSMRequestInProgress) {
        monitor().logWithLevel(1, 23235,
                               "Failed to initiate on-device conversion measurement. Request to "
                               "query data set for on-device conversion measurement already in "
                               "progress.");
        return false;
    }
    if (context->PSMStartCount >= remoteConfig_->maxPSMStartCount()) {
        monitor().logWithLevel(1, 23236,
                               "Failed to initiate on-device conversion measurement. Exceeded "
                               "limit per app run.");
        return false;
    }
    sdk::Error error;
    if (storedUserAttributeWithName(kPSMValueProperty, &error)) {
        monitor().logWithLevel(1, 23237,
                               "Failed to initiate on-device conversion measurement. Found "
                               "existing match.");
        return false;
    }
    if (context->PSMRetryCount >= remoteConfig_->maxPSMRetryCount()) {
        monitor().logWithLevel(1, 23238,
                               "Failed to initiate on-device conversion measurement. Exceeded "
                               "retry limit.");
        return false;
    }
    return true;
}

std::shared_ptr<APMPrivateSetMembershipClient> APMMeasurement::PSMClientWithEmailAddress(
    const std::string& emailAddress) {
    const auto library = PSMClientClass();
    if (!library) {
        return nullptr;
    }
    return library->clientWithEmailAddress(
        emailAddress, identity_->appID().value_or(""),
        library->supportsPrefixBitLength()
            ? std::optional<std::int32_t>(remoteConfig_->hashPrefixBitLengthEmail())
            : std::nullopt);
}

std::shared_ptr<APMPrivateSetMembershipClient> APMMeasurement::PSMClientWithPhoneNumber(
    const std::string& phoneNumber) {
    const auto library = PSMClientClass();
    if (!library || !library->supportsPhoneNumbers()) {
        return nullptr;
    }
    return library->clientWithPhoneNumber(
        phoneNumber, identity_->appID().value_or(""),
        library->supportsPrefixBitLength()
            ? std::optional<std::int32_t>(remoteConfig_->hashPrefixBitLengthPhone())
            : std::nullopt);
}

std::shared_ptr<APMPrivateSetMembershipClient> APMMeasurement::PSMClientWithHashedEmailAddress(
    const sdk::Bytes& hashedEmailAddress) {
    const auto library = PSMClientClass();
    if (!library || !library->supportsHashedEmailAddresses()) {
        return nullptr;
    }
    return library->clientWithHashedEmailAddress(hashedEmailAddress,
                                                 identity_->appID().value_or(""),
                                                 remoteConfig_->hashPrefixBitLengthEmail());
}

std::shared_ptr<APMPrivateSetMembershipClient> APMMeasurement::PSMClientWithHashedPhoneNumber(
    const sdk::Bytes& hashedPhoneNumber) {
    const auto library = PSMClientClass();
    if (!library || !library->supportsHashedPhoneNumbers()) {
        return nullptr;
    }
    return library->clientWithHashedPhoneNumber(hashedPhoneNumber, identity_->appID().value_or(""),
                                                remoteConfig_->hashPrefixBitLengthPhone());
}

// The query ---------------------------------------------------------------------------------

std::optional<std::string> APMMeasurement::PSMRequestURL() {
    APMPSMContext* context = ODM1Context_.get();
    if (context == nullptr || !context->PSMClient) {
        return std::nullopt;
    }
    APMPrivateSetMembershipClient& client = *context->PSMClient;
    std::optional<std::string> url = client.PSMRequestURLWithRetryCount(context->PSMRetryCount);
    if (!url || url->empty()) {
        return std::nullopt;
    }
    const PSMCounter counter = counterForInputType(client.inputType());
    sdk::Error error;
    const std::optional<APMUserAttribute> stored =
        storedUserAttributeWithName(counter.property, &error);
    appendParameter(*url, counter.parameter,
                    std::to_string(stored ? stored->value().int64Value() : 0));
    const double firstOpen =
        static_cast<double>(persistedConfig_->firstOpenTimestampMilliseconds()) / 1000.0;
    if (firstOpen > 0 && !(context->sessionStartTimestamp > 0)) {
        const auto minutes = static_cast<std::int64_t>(firstOpen / 60.0);
        appendParameter(*url, "timestamp_first_open", std::to_string(minutes * 60 + 60));
    }
    if ((monitor().isDebugModeEnabled() || monitor().isVerboseLoggingEnabled()) &&
        !APMAEU::isFAS()) {
        const std::optional<std::string> debugKey = client.debugKey();
        const std::vector<std::string> arguments = platform::processArguments();
        if (debugKey &&
            std::find(arguments.begin(), arguments.end(), kDebugArgument) != arguments.end()) {
            appendParameter(*url, "debug_psm_key", *debugKey);
        }
    }
    return url;
}

void APMMeasurement::retrievePSMResponse() {
    const std::shared_ptr<APMPSMContext> context = ODM1Context_;
    const std::shared_ptr<APMPrivateSetMembershipClient> client =
        context ? context->PSMClient : nullptr;
    const sdk::Bytes payload = client ? client->payloadWithPSMRequest() : sdk::Bytes{};
    if (payload.empty()) {
        monitor().logWithLevel(1, 23293,
                               "Payload to query data set for on-device conversion measurement "
                               "is invalid");
        return;
    }
    const std::optional<std::string> url = PSMRequestURL();
    if (!url) {
        monitor().logWithLevel(1, 23227,
                               "URL to query data set for on-device conversion measurement is "
                               "invalid");
        return;
    }
    if (!isNetworkReadyForRequest()) {
        monitor().logWithLevel(7, 23232,
                               "Network operation is pending. Request to query data set for "
                               "on-device conversion measurement postponed.");
        context->isPSMRequestPostponed = true;
        return;
    }
    const std::string counterName(counterForInputType(client->inputType()).property);
    if (APMAlarm* alarm = context->existingPSMRetryAlarm()) {
        alarm->cancel();
    }
    context->isPSMRequestPostponed = false;
    context->isPSMRequestInProgress = true;
    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(remoteConfig_->networkTimeout());
    const bool isSessionRequest = context->sessionStartTimestamp > 0;
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    network_->postURL(*url, payload, scheduler_->workerQueue(), shouldUseBackgroundSession(),
                      [weak, context, client, counterName, isSessionRequest](
                          const VDUNetwork::Response& response, const VDUNetwork::Data& data,
                          const sdk::Error& error) {
                          if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                              engine->handlePSMResponse(context, client, counterName,
                                                        isSessionRequest, response, data, error);
                          }
                      });
}

void APMMeasurement::handlePSMResponse(const std::shared_ptr<APMPSMContext>& context,
                                       const std::shared_ptr<APMPrivateSetMembershipClient>& client,
                                       const std::string& counterName, bool isSessionRequest,
                                       const VDUNetwork::Response& response,
                                       const VDUNetwork::Data& data, const sdk::Error& error) {
    isNetworkRequestPending_ = false;
    // A wipe while the query was out replaced the context: the answer belongs to data that is
    // gone, so it is not counted or kept.
    if (context != ODM1Context_) {
        updateSchedule();
        return;
    }
    incrementPSMCountOnWorkerQueueWithName(counterName);
    const long code = response ? response->statusCode : 0;
    if (!error.ok() || (code != 200 && code != 204 && code != 304)) {
        monitor().logWithLevel(1, 23228,
                               "Failed to query data set for on-device conversion measurement. "
                               "Will retry later. Code, error",
                               static_cast<std::int64_t>(code), error);
        context->isPSMRequestInProgress = false;
        maybeSchedulePSMRetry();
        updateSchedule();
        return;
    }
    const std::string value = client->parsedPSMValueFromResponse(data.value_or(sdk::Bytes{}));
    if (!value.empty()) {
        monitor().logWithLevel(7, 23229, "On-device conversion measurement found a match");
        handlePSMValueOnWorkerQueue(value, isSessionRequest);
    } else {
        monitor().logWithLevel(7, 23230,
                               "On-device conversion measurement did not find a match. Will try "
                               "again given new user data.");
    }
    context->isPSMRequestInProgress = false;
    context->PSMClient = nullptr;
    updateSchedule();
}

void APMMeasurement::maybeSchedulePSMRetry() {
    const std::shared_ptr<APMPSMContext> context = ODM1Context_;
    if (!context) {
        return;
    }
    // Retries are few (the configuration allows at most 10), so the doubling stays finite; an
    // overflow would still only give an alarm that never fires.
    const double delay =
        std::ldexp(remoteConfig_->PSMRetryInterval(),
                   static_cast<int>(std::clamp<std::int64_t>(context->PSMRetryCount, 0, 1000)));
    context->PSMRetryCount += 1;
    if (context->PSMRetryCount >= remoteConfig_->maxPSMRetryCount()) {
        monitor().logWithLevel(4, 23231,
                               "On-device conversion measurement failed to find a match. Reached "
                               "retry limit.");
        return;
    }
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    context->PSMRetryAlarm(scheduler_->workerQueue()).runAfterDelay(delay, [weak] {
        if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
            engine->retrievePSMResponse();
        }
    });
}

// Values and counters -------------------------------------------------------------------------

void APMMeasurement::handlePSMValueOnWorkerQueue(const std::string& value, bool isSessionValue) {
    if (value.empty()) {
        return;
    }
    const double now = APMCurrentTimeInterval();
    if (sdk::Error error; !database_->updateODMValue(
            value, isSessionValue ? kODM1SessionValue : kODM1Value, now, &error)) {
        monitor().logWithLevel(1, 23286, "Failed to update ODM value. Error", error);
    }
    if (std::optional<APMUserAttribute> attribute =
            APMUserAttribute::initWithOrigin("auto", kPSMValueProperty, APMValue(value), now)) {
        setUserAttributeOnWorkerQueue(*attribute);
    }
    writeOnDeviceConversionEventOnWorkerQueue("psm");
}

void APMMeasurement::writeOnDeviceConversionEventOnWorkerQueue(std::string_view source) {
    std::optional<APMEvent> event = APMEvent::initWithOrigin(
        "auto", false, "_fx", APMCurrentTimeInterval(), 0,
        {{"_fxs", APMValue(std::string(source))}}, APMRemoteConfig::current()->parameterLimits());
    if (!event) {
        return;
    }
    event->setRealtime(true);
    writeEventOnWorkerQueue(std::move(*event));
}

void APMMeasurement::incrementPSMCountOnWorkerQueueWithName(std::string_view name) {
    sdk::Error error;
    const std::optional<APMUserAttribute> stored = storedUserAttributeWithName(name, &error);
    const std::int64_t count = stored ? stored->value().int64Value() : 0;
    if (std::optional<APMUserAttribute> attribute = APMUserAttribute::initWithOrigin(
            "auto", name, APMValue(count + 1), APMCurrentTimeInterval())) {
        setUserAttributeOnWorkerQueue(*attribute);
    }
}

void APMMeasurement::maybeDeleteExpiredPSMValueOnWorkerQueue() {
    const double now = APMCurrentTimeInterval();
    sdk::Error rowError;
    std::optional<APMSqliteRecord> row = database_->ODMValueWithName(kODM1Value, &rowError);
    if (row) {
        const auto found = row->find("set_timestamp");
        const double setTime = found != row->end() ? found->second.numberAsDouble().value_or(0) : 0;
        if (std::fabs(now - setTime) >= kPSMValueExpirySeconds) {
            if (sdk::Error error; !database_->deleteODMValueWithName(kODM1Value, &error)) {
                monitor().logWithLevel(4, 23289, "Failed to delete ODM value. Error", error);
            } else {
                row.reset();
            }
        }
    }
    sdk::Error error;
    const std::optional<APMUserAttribute> match =
        storedUserAttributeWithName(kPSMValueProperty, &error);
    if (!match) {
        return;
    }
    if (std::fabs(now - match->lastSetTimestamp()) >= kPSMValueExpirySeconds) {
        if (sdk::Error deleteError; !deleteStoredUserAttribute(kPSMValueProperty, &deleteError)) {
            monitor().logWithLevel(1, 23077, "Unable to remove user property. Name, error",
                                   std::string(kPSMValueProperty), deleteError);
        }
        for (std::string_view counter : kCounterProperties) {
            sdk::Error counterError;
            if (storedUserAttributeWithName(counter, &counterError)) {
                deleteStoredUserAttribute(counter, &counterError);
            }
        }
        return;
    }
    // The row goes with the bundles; a match kept only as a property gets its row back. Not when
    // the row could not be read: it may well exist.
    if (!row && rowError.ok()) {
        const std::string text = match->value().stringValue() ? *match->value().stringValue()
                                                              : match->value().description();
        if (sdk::Error updateError;
            !database_->updateODMValue(text, kODM1Value, match->lastSetTimestamp(), &updateError)) {
            monitor().logWithLevel(1, 23286, "Failed to update ODM value. Error", updateError);
        }
    }
}
