// Remote configuration fetch: the conditional GET of the app's configuration, storing its
// answer, and the weekly check when the application becomes active.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "sdk/measurement/audiences/APMAudience.h"
#include "sdk/measurement/audiences/APMTCFClient.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

// The platform name the configuration service knows this system by.
constexpr std::string_view kPlatform = "macos";
// How old the configuration must be before becoming active fetches it again.
constexpr double kActivationFetchAge = 604800.0;

std::int64_t contentLength(const VDUNetwork::Response& response) {
    const std::optional<std::string> text =
        response ? platform::headerValue(response->headers, "Content-Length") : std::nullopt;
    std::int64_t length = -1;
    if (text) {
        const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), length);
        if (ec != std::errc() || end != text->data() + text->size() || length < 0) {
            length = -1;
        }
    }
    return length;
}

}  // namespace

void APMMeasurement::fetchRemoteConfig() {
    const std::int64_t libraryVersion = APMIdentity::divEdadevadezeLibraryVersion();
    const std::optional<std::string> url = remoteConfig_->remoteConfigURLWithPlatform(
        kPlatform, libraryVersion, APMPRuntime::runtimeVersion());
    if (!url) {
        monitor().logWithLevel(2, 23125, "Invalid server URL to get configuration");
        return;
    }
    monitor().logWithLevel(8, 23126, "Fetching configuration from the server");
    // Validators stored by another library version are not sent, so an update gets a full
    // answer.
    VDUNetwork::Headers headers;
    if (persistedConfig_->configVUDVersion() == libraryVersion) {
        if (const std::optional<std::string> lastModified =
                persistedConfig_->configServerLastModifiedString();
            lastModified && !lastModified->empty()) {
            headers["If-Modified-Since"] = *lastModified;
        }
        if (const std::optional<std::string> eTag = persistedConfig_->configServerETag();
            eTag && !eTag->empty()) {
            headers["If-None-Match"] = *eTag;
        }
    }
    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(remoteConfig_->networkTimeout());
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    network_->getURL(*url, headers, scheduler_->workerQueue(), shouldUseBackgroundSession(),
                     [weak](const VDUNetwork::Response& response, const VDUNetwork::Data& data,
                            const sdk::Error& error) {
                         if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                             engine->isNetworkRequestPending_ = false;
                             engine->networkRemoteConfigFetchCompletionHandler(response, data,
                                                                               error);
                         }
                     });
}

void APMMeasurement::networkRemoteConfigFetchCompletionHandler(const VDUNetwork::Response& response,
                                                               const VDUNetwork::Data& data,
                                                               const sdk::Error& error) {
    const long code = response ? response->statusCode : 0;
    const auto code64 = static_cast<std::int64_t>(code);
    monitor().logWithLevel(8, 23127, "Fetched configuration. Status code", code64);
    const double now = APMCurrentTimeInterval();
    // A body cut short, past its cap or stalled fails the fetch like a transport error.
    if (!error.ok() || (code != 200 && code != 204 && code != 304 && code != 404)) {
        monitor().logWithLevel(
            3, 23128, "Network request failed to fetch remote config. Code, Error", code64, error);
        recordUploadFailureWithCode(error.ok() ? code : 0, now);
        monitor().logWithLevel(3, 23129, "Network fetch failed. Will retry later. Code, error",
                               code64, error);
        updateSchedule();
        return;
    }
    persistedConfig_->setLastFailedUploadTimestamp(0);
    persistedConfig_->setLastBackoffTimestamp(0);
    sdk::Error timeError;
    bool timeRecorded = false;
    if (code == 304 || code == 404) {
        if (code == 304) {
            monitor().logWithLevel(
                8, 23131, "Configuration has not been modified. Using the same configuration. Code",
                code64);
        } else {
            monitor().logWithLevel(3, 23130,
                                   "Configuration not found. Using default configuration");
        }
        timeRecorded = database_->updateRemoteConfigSuccessfulTimestamp(now, &timeError);
        if (!timeRecorded) {
            monitor().logWithLevel(1, 23132, "Failed to update config last set timestamp. Error",
                                   timeError);
        }
    } else {
        monitor().logWithLevel(8, 23133,
                               "Successfully fetched configuration from the server. Code, size",
                               code64, contentLength(response));
        timeRecorded = database_->updateRemoteConfigSuccessfulTimestamp(now, &timeError);
        if (!timeRecorded) {
            monitor().logWithLevel(1, 23134, "Failed to set last set timestamp in database. Error",
                                   timeError);
        }
        if (data && !data->empty() &&
            database_->performTransaction([&] { return storeFetchedRemoteConfig(*data); })) {
            persistedConfig_->setConfigServerLastModifiedString(
                platform::headerValue(response->headers, "Last-Modified"));
            persistedConfig_->setConfigServerETag(platform::headerValue(response->headers, "ETag"));
            persistedConfig_->setConfigVUDVersion(APMIdentity::divEdadevadezeLibraryVersion());
            refreshActivitySettingsOnWorkerQueue();
        }
    }
    // An uptime that cannot be read would suspend for ever: no suspension then.
    suspendedUploadTimestamp_ = timeRecorded ? 0 : std::max(systemUptime(), 0.0);
    updateAdsOnDeviceConversionMeasurement();
    // A deferred deep link that waited for this fetch goes instead of the upload.
    if (shouldRequestDeferredDeepLinkAfterConfigFetch_) {
        shouldRequestDeferredDeepLinkAfterConfigFetch_ = false;
        requestDeferredDeepLink();
    } else {
        uploadDataOrRegisterAlarm();
    }
    if (tcfClient_) {
        tcfClient_->setIsDMARegion(remoteConfig_->isDMARegion());
    }
}

bool APMMeasurement::storeFetchedRemoteConfig(const sdk::Bytes& body) {
    std::unique_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithBuffer(body);
    if (!config || !config->protoBuffer()) {
        monitor().logWithLevel(2, 23135, "Configuration data is invalid.");
        return false;
    }
    const std::string expectedAppID = identity_->appIDFromVUD().value_or(appID_);
    if (APMPBGetString(config.get(), apmpb::MeasurementConfig::kAppId).value_or("") !=
        expectedAppID) {
        monitor().logWithLevel(2, 23136, "Configuration does not have valid Vovidu App ID.");
        return false;
    }
    // The audiences go to the audience engine, the rest to the configuration store.
    const APMPBRepeatedArray audiences =
        APMPBGetRepeated<APMPBAudience>(config.get(), apmpb::MeasurementConfig::kAudiences)
            .value_or(APMPBRepeatedArray{});
    APMPBClearField(config.get(), apmpb::MeasurementConfig::kAudiences);
    if (!remoteConfig_->updateMeasurementConfig(config.get())) {
        monitor().logWithLevel(2, 23138,
                               "Failed to update configuration with new server configuration",
                               sdk::Value(body));
        return false;
    }
    updateConsentSettingsUtilWithRemoteConfig();
    if (!audience_->updateAudiences(audiences)) {
        monitor().logWithLevel(2, 23137,
                               "Failed to update audiences with new server configuration");
        return false;
    }
    return true;
}

void APMMeasurement::subscribeForAppForegroundBackgroundNotifications() {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    appDidBecomeActiveObserver_ = VDUNotificationCenter::defaultCenter().addObserverForName(
        std::string(APMAppDidBecomeActiveNotificationName()), nullptr,
        [weak](const VDUNotification& notification) {
            if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                engine->handleAppDidBecomeActiveEvent(notification);
            }
        });
    appWillResignActiveObserver_ = VDUNotificationCenter::defaultCenter().addObserverForName(
        std::string(APMAppWillResignActiveNotificationName()), nullptr,
        [weak](const VDUNotification& notification) {
            if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                engine->handleAppWillResignActiveEvent(notification);
            }
        });
}

void APMMeasurement::handleAppDidBecomeActiveEvent(const VDUNotification& notification) {
    (void)notification;
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    // The configuration is read on the worker queue only, so the setting is checked there too.
    scheduler_->scheduleOnWorkerQueue("APMMeasurement:3972", [weak] {
        std::shared_ptr<APMMeasurement> engine = weak.lock();
        if (!engine || !engine->remoteConfig_ || !engine->remoteConfig_->blocklistInternal()) {
            return;
        }
        const double age = std::fabs(APMCurrentTimeInterval() -
                                     engine->remoteConfig_->lastRemoteConfigUpdateTimestamp());
        if (age < kActivationFetchAge) {
            return;
        }
        if (engine->isNetworkReadyForRequest()) {
            engine->fetchRemoteConfig();
        } else {
            monitor().logWithLevel(
                8, 23143, "Network operation is pending. Ignoring request to fetch configuration");
        }
    });
}
