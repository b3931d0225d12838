#include "sdk/measurement/engine/core/APMIdentity.h"

#include <algorithm>
#include <charconv>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"
#include "sdk/measurement/engine/APMDigest.h"
#include "sdk/measurement/engine/APMLibraryVersion.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMRandomIdentifier.h"
#include "sdk/measurement/engine/APMVoviduServiceFileUtil.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"

namespace {

constexpr std::string_view kIDFVCollectionKey = "VOVIDU_ANALYTICS_IDFV_COLLECTION_ENABLED";

// The Apple consent status for what the support reports.
std::int64_t appleConsentStatusFor(bool hasLimitedAdTracking,
                                   std::optional<std::int64_t> authorizationStatus) {
    if (!hasLimitedAdTracking) {
        return 6;
    }
    if (!authorizationStatus || *authorizationStatus < 0 || *authorizationStatus > 3) {
        return 5;
    }
    static constexpr std::int64_t kByStatus[] = {4, 1, 2, 3};
    return kByStatus[*authorizationStatus];
}

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::shared_ptr<APMIdentity> APMIdentity::sharedInstance() {
    std::lock_guard lock(sharedMutex());
    static std::shared_ptr<APMIdentity> shared;
    if (!shared) {
        shared = initWithPersistedConfig(APMPersistedConfig::sharedInstance());
    }
    if (!shared) {
        APMMonitor::shared().logWithLevel(2, 20003, "Identity's shared instance is nil");
    }
    return shared;
}

std::shared_ptr<APMIdentity> APMIdentity::initWithPersistedConfig(
    std::shared_ptr<APMPersistedConfig> persistedConfig,
    std::shared_ptr<APMRemoteConfig> remoteConfig, APMDefaultIdentitySupport* support) {
    if (!persistedConfig) {
        APMMonitor::shared().logWithLevel(
            2, 20004,
            "Unable to create measurement identity, missing a valid persisted config instance");
        return nullptr;
    }
    auto identity = std::make_shared<APMIdentity>(
        Passkey(), std::move(persistedConfig), std::move(remoteConfig),
        support != nullptr ? *support : APMDefaultIdentitySupport::sharedInstance());
    identity->readAppIdentity();
    if (!identity->persistedConfig_->appInstanceID() &&
        !APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        identity->persistedConfig_->setAppInstanceID(randomAppInstanceID());
    }
    return identity;
}

APMIdentity::APMIdentity(Passkey, std::shared_ptr<APMPersistedConfig> persistedConfig,
                         std::shared_ptr<APMRemoteConfig> remoteConfig,
                         APMDefaultIdentitySupport& support)
    : persistedConfig_(std::move(persistedConfig)),
      remoteConfig_(std::move(remoteConfig)),
      support_(support),
      queue_(platform::DispatchQueue::createSerial("APMIdentityWorkerQueue")) {}

void APMIdentity::readAppIdentity() {
    if (const auto service = APMVoviduServiceFileUtil::dictionaryFromVoviduServiceInfoPlist();
        service && !service->empty()) {
        const auto found = service->find("VOVIDU_APP_ID");
        if (found != service->end()) {
            if (const auto* appID = found->second.getIf<std::string>()) {
                appIDFromVUD_ = *appID;
            }
        }
    }
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return;
    }
    const auto idfv = bundle->info().find(kIDFVCollectionKey);
    if (idfv != bundle->info().end()) {
        if (const auto* enabled = idfv->second.getIf<bool>()) {
            idfvCollectionEnabled_ = *enabled;
        } else if (const auto* number = idfv->second.getIf<std::int64_t>()) {
            idfvCollectionEnabled_ = *number != 0;
        }
        if (idfvCollectionEnabled_) {
            APMMonitor::shared().logWithLevel(
                7, 20009,
                std::string(kIDFVCollectionKey) + " = " + (*idfvCollectionEnabled_ ? "YES" : "NO"));
        }
    }
    appID_ = bundle->identifier();
    appVersion_ = bundle->infoString("CFBundleShortVersionString");
    if (const std::optional<std::string> version = bundle->infoString("CFBundleVersion")) {
        const std::vector<std::int64_t> fields = numericFieldsFromAppVersionNumeric(*version);
        if (!fields.empty()) {
            appVersionMajor_ = fields[0];
        }
        if (fields.size() > 1) {
            appVersionMinor_ = fields[1];
        }
        if (fields.size() > 2) {
            appVersionRelease_ = fields[2];
        }
    }
}

std::shared_ptr<APMRemoteConfig> APMIdentity::remoteConfig() const {
    return remoteConfig_ ? remoteConfig_ : APMRemoteConfig::current();
}

void APMIdentity::updateIdentifiersOnWorkerQueue() {
    const Clock::time_point now = Clock::now();
    const std::optional<std::string> storedID = persistedConfig_->appInstanceID();
    const std::shared_ptr<APMRemoteConfig> config = remoteConfig();
    if (storedID && lastIdentifierUpdate_ && *lastIdentifierUpdate_ <= now &&
        std::chrono::duration<double>(now - *lastIdentifierUpdate_).count() <
            config->adIDCacheTime()) {
        return;
    }

    const std::optional<std::string> storedHash = persistedConfig_->hashedResettableDeviceID();
    const bool hasLimitedAdTracking = support_.hasLimitedAdTracking();
    const bool limitedAdTracking = support_.limitedAdTracking();
    const std::optional<std::int64_t> status = support_.trackingAuthorizationStatus();
    const std::int64_t appleStatus = appleConsentStatusFor(hasLimitedAdTracking, status);
    const bool mayRead = !config->gateIDFAOnATTMASEnabled() || status == 3;

    const bool adDenied = APMConsentSettingsUtil::isAdStorageDenied();
    const bool analyticsDenied = APMConsentSettingsUtil::isAnalyticsStorageDenied();
    const std::optional<std::string> deviceID =
        adDenied || !mayRead ? std::nullopt : support_.resettableDeviceID();

    bool changed = false;
    std::optional<std::string> appInstanceID = storedID;
    std::optional<std::string> hash = storedHash;
    if (deviceID && !deviceID->empty() && *deviceID != APMDefaultIdentitySupport::kZeroIdentifier) {
        const std::optional<std::string> newHash = apm_MD5String(*deviceID);
        if (newHash && newHash != storedHash) {
            if (storedHash) {
                // The advertising identifier was reset: so is the app instance.
                appInstanceID = randomAppInstanceID();
                persistedConfig_->setShouldSetLastAdvertisingIDResetUserProperty(true);
            }
            hash = newHash;
            changed = true;
        }
    }
    if (changed || !storedID) {
        if (!analyticsDenied) {
            persistedConfig_->setAppInstanceID(appInstanceID ? *appInstanceID
                                                             : randomAppInstanceID());
        }
        if (!adDenied) {
            persistedConfig_->setHashedResettableDeviceID(hash);
        }
    }

    lastIdentifierUpdate_ = now;
    limitedAdTracking_ = limitedAdTracking;
    resettableDeviceID_ = deviceID;
    appleConsentStatus_ = appleStatus;
}

void APMIdentity::updateIdentifiers() {
    queue_->async([weak = weak_from_this()] {
        if (const std::shared_ptr<APMIdentity> self = weak.lock()) {
            self->updateIdentifiersOnWorkerQueue();
        }
    });
}

void APMIdentity::readAfterUpdate(const std::function<void()>& read) {
    queue_->sync([&] {
        updateIdentifiersOnWorkerQueue();
        read();
    });
}

void APMIdentity::updateIdentifiersAndWait() {
    updateIdentifiers();
    queue_->sync([] {});
}

std::optional<std::string> APMIdentity::appInstanceID() {
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        return std::nullopt;
    }
    std::optional<std::string> id;
    readAfterUpdate([&] { id = persistedConfig_->appInstanceID(); });
    return id;
}

void APMIdentity::setAppInstanceID(const std::string& appInstanceID) {
    queue_->async([self = shared_from_this(), appInstanceID] {
        self->persistedConfig_->setAppInstanceID(appInstanceID);
    });
}

std::optional<std::string> APMIdentity::hashedResettableDeviceID() {
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        return std::nullopt;
    }
    std::optional<std::string> hash;
    readAfterUpdate([&] { hash = persistedConfig_->hashedResettableDeviceID(); });
    return hash;
}

std::optional<std::string> APMIdentity::resettableDeviceID() {
    std::optional<std::string> id;
    readAfterUpdate([&] { id = resettableDeviceID_; });
    return id;
}

bool APMIdentity::limitedAdTracking() {
    bool limited = true;
    readAfterUpdate([&] { limited = limitedAdTracking_; });
    return limited;
}

std::int64_t APMIdentity::appleConsentStatus() {
    std::int64_t status = 6;
    readAfterUpdate([&] { status = appleConsentStatus_; });
    return status;
}

bool APMIdentity::hasLimitedAdTracking() {
    bool has = false;
    readAfterUpdate([&] { has = support_.hasLimitedAdTracking(); });
    return has;
}

std::optional<std::string> APMIdentity::appIDFromVUD() {
    std::optional<std::string> appID;
    queue_->sync([&] { appID = appIDFromVUD_; });
    return appID;
}

void APMIdentity::setAppIDFromVUD(const std::string& appID) {
    if (appID.empty()) {
        APMMonitor::shared().logWithLevel(2, 20005, "Cannot set empty Vovidu App ID");
        return;
    }
    queue_->async([self = shared_from_this(), appID] {
        if (!self->appIDFromVUDWasSet_) {
            self->appIDFromVUDWasSet_ = true;
            self->appIDFromVUD_ = appID;
        }
    });
}

bool APMIdentity::shouldSetLastAdvertisingIDResetUserProperty() {
    bool value = false;
    queue_->sync([&] { value = persistedConfig_->shouldSetLastAdvertisingIDResetUserProperty(); });
    return value;
}

void APMIdentity::setShouldSetLastAdvertisingIDResetUserProperty(bool value) {
    queue_->async([self = shared_from_this(), value] {
        self->persistedConfig_->setShouldSetLastAdvertisingIDResetUserProperty(value);
    });
}

std::optional<std::string> APMIdentity::sessionStitchingTokenWithSessionNumber(
    std::int64_t sessionNumber, bool sessionExpired, bool userIDAvailable) {
    if (APMConsentSettingsUtil::isAnalyticsStorageDenied()) {
        return std::nullopt;
    }
    std::optional<std::string> token;
    queue_->sync([&] {
        const bool sameSession =
            lastSessionNumber_ == sessionNumber && lastSessionExpired_ == sessionExpired;
        // The session that follows an expired one continues the same visit.
        const bool followsExpired = lastSessionNumber_ &&
                                    sessionNumber == *lastSessionNumber_ + 1 &&
                                    lastSessionExpired_ && !sessionExpired;
        if (!sameSession && !followsExpired) {
            resetSessionStitchingTokenOnWorkerQueue();
        }
        lastSessionNumber_ = sessionNumber;
        lastSessionExpired_ = sessionExpired;
        const Clock::time_point now = Clock::now();
        if (!userIDAvailable && tokenExpiry_ && *tokenExpiry_ <= now) {
            resetSessionStitchingTokenOnWorkerQueue();
        }
        if (!sessionStitchingToken_) {
            sessionStitchingToken_ = randomAppInstanceID();
            if (!userIDAvailable) {
                tokenExpiry_ = now + kTokenLifetime;
            }
        }
        token = sessionStitchingToken_;
    });
    return token;
}

void APMIdentity::resetSessionStitchingToken() {
    queue_->async([self = shared_from_this()] { self->resetSessionStitchingTokenOnWorkerQueue(); });
}

void APMIdentity::resetSessionStitchingTokenOnWorkerQueue() {
    sessionStitchingToken_.reset();
    tokenExpiry_.reset();
}

std::string APMIdentity::diversionKey() {
    return persistedConfig_->diversionKeyCreatingIfNeeded();
}

std::string APMIdentity::ephemeralAppInstanceID() {
    std::string id;
    queue_->sync([&] {
        if (!ephemeralAppInstanceID_) {
            ephemeralAppInstanceID_ = randomAppInstanceID();
        }
        id = *ephemeralAppInstanceID_;
    });
    return id;
}

void APMIdentity::resetEphemeralAppInstanceID() {
    queue_->async([self = shared_from_this()] { self->ephemeralAppInstanceID_.reset(); });
}

std::optional<std::string> APMIdentity::razudizoInstallationID() {
    std::lock_guard lock(installationMutex_);
    return installationID_;
}

void APMIdentity::setRazudizoInstallationID(std::optional<std::string> installationID) {
    std::lock_guard lock(installationMutex_);
    installationID_ = std::move(installationID);
}

bool APMIdentity::isFromAppStore() {
    return VDUAppEnvironmentUtil::isFromAppStore();
}

// Static helpers ------------------------------------------------------------------------------

std::int64_t APMIdentity::divEdadevadezeLibraryVersion() {
    return APMLibraryVersion();
}

std::int64_t APMIdentity::libraryVersionFromString(std::string_view text) {
    return APMLibraryVersionFromString(text);
}

std::string APMIdentity::randomAppInstanceID() {
    return APMRandomIdentifier();
}

std::vector<std::int64_t> APMIdentity::numericFieldsFromAppVersionNumeric(
    std::string_view version) {
    std::vector<std::int64_t> fields;
    std::size_t start = 0;
    while (start <= version.size()) {
        const std::size_t dot = std::min(version.find('.', start), version.size());
        const std::string_view component = version.substr(start, dot - start);
        start = dot + 1;
        if (component.empty()) {
            continue;
        }
        // Any character that is not a decimal digit splits the component; the pieces are joined.
        std::string digits;
        for (const char c : component) {
            if (c >= '0' && c <= '9') {
                digits.push_back(c);
            }
        }
        if (digits.size() != component.size()) {
            APMMonitor::shared().logWithLevel(5, 20002,
                                              "app version numeric has non-numeric characters");
        }
        std::int64_t value = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        fields.push_back(value);
    }
    return fields;
}
