// The deferred deep link: asked for once per installation after the first launch, its link
// handed to the application's delegate and, when taken, reported as a campaign.
#include <algorithm>
#include <string>

#include "platform/app/Application.h"
#include "platform/bundle/Bundle.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/process/ProcessArguments.h"
#include "sdk/measurement/attribution/APMCampaignURL.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMAEU.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDeepLink.h"
#include "sdk/measurement/engine/APMQueryString.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/ValueJson.h"

namespace {

// The deep-link service; tests move it with the SDK's one endpoint override.
constexpr std::string_view kDeepLinkServiceHost = "adservice.vovidu.invalid";
constexpr std::string_view kDeepLinkPath = "/adlink/conversion/app/deeplink";
constexpr std::string_view kDeferredDeepLinkEnabledKey =
    "VOVIDU_ANALYTICS_DEFERRED_DEEP_LINK_ENABLED";
constexpr std::string_view kDebugDeferredDeepLinkArgument = "-DebugDeferredDeepLink";
// A reply is a small JSON object; anything larger is not read.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;

// Whether the main bundle's Info.plist holds `key` as a number (booleans included) that is
// true.
bool infoPlistNumberIsTrue(std::string_view key) {
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return false;
    }
    const auto found = bundle->info().find(key);
    if (found == bundle->info().end()) {
        return false;
    }
    if (const bool* flag = found->second.getIf<bool>()) {
        return *flag;
    }
    if (const std::int64_t* number = found->second.getIf<std::int64_t>()) {
        return *number != 0;
    }
    if (const double* number = found->second.getIf<double>()) {
        return *number != 0;
    }
    return false;
}

bool hasDebugDeferredDeepLinkArgument() {
    const std::vector<std::string> arguments = platform::processArguments();
    // The first entry is the program itself.
    return arguments.size() > 1 && std::find(arguments.begin() + 1, arguments.end(),
                                             kDebugDeferredDeepLinkArgument) != arguments.end();
}

}  // namespace

void APMMeasurement::startCampaignOnWorkerQueue() {
    if (APMUserDefaults::sharedUserDefaults().objectForKey(kAPMDeepLinkKey)) {
        reportStoredCampaignEventOnWorkerQueue(std::nullopt);
        return;
    }
    if (!shouldAllowRequestDeferredDeepLink()) {
        return;
    }
    // The request waits for a configuration that says whether the feature is on.
    if (remoteConfig_->isExpired()) {
        shouldRequestDeferredDeepLinkAfterConfigFetch_ = true;
    } else {
        requestDeferredDeepLink();
    }
}

bool APMMeasurement::shouldAllowRequestDeferredDeepLink() {
    if (!remoteConfig_->isDeferredDeepLinkEnabled()) {
        monitor().logWithLevel(5, 23193, "Deferred Deep Link feature disabled");
        return false;
    }
    if (!infoPlistNumberIsTrue(kDeferredDeepLinkEnabledKey)) {
        return false;
    }
    if (persistedConfig_->deferredDeepLinkRetrievalComplete()) {
        monitor().logWithLevel(7, 23194, "Already retrieved Deferred Deep Link. Skipping");
        return false;
    }
    if (persistedConfig_->deferredDeepLinkRetryCount() >=
        remoteConfig_->maxDeferredDeepLinkRetryCount()) {
        monitor().logWithLevel(3, 23195,
                               "Failed to retrieve Deferred Deep Link. Reached retry limit");
        persistedConfig_->setDeferredDeepLinkRetrievalComplete(sdk::Value(std::int64_t{1}));
        return false;
    }
    if (APMConsentSettingsUtil::isAdStorageDenied()) {
        monitor().logWithLevel(3, 23252,
                               "IDFA unavailable to retrieve Deferred Deep Link due to denied ad "
                               "storage consent. Skipping");
        return false;
    }
    // An identity that cannot tell counts as limited.
    const bool limited = !identity_->hasLimitedAdTracking() || identity_->limitedAdTracking();
    if (limited) {
        monitor().logWithLevel(3, 23196,
                               "IDFA unavailable to retrieve Deferred Deep Link. Skipping");
        return false;
    }
    monitor().logWithLevel(7, 23197, "Deferred Deep Link feature enabled");
    return true;
}

std::string APMMeasurement::deferredDeepLinkRequestURL() {
    std::string url = APMRemoteConfig::serviceOriginOverride().value_or(
        "https://" + std::string(kDeepLinkServiceHost));
    url += kDeepLinkPath;
    url += "?sdk_version=" + std::to_string(APMIdentity::divEdadevadezeLibraryVersion());
    url += "&rdid=" + APMQueryPercentEncoded(identity_->resettableDeviceID().value_or(""));
    url += "&id_type=idfa";
    url += "&bundleid=" + APMQueryPercentEncoded(identity_->appID().value_or(""));
    url += "&retry=" + std::to_string(persistedConfig_->deferredDeepLinkRetryCount());
    if (!APMAEU::isFAS() && hasDebugDeferredDeepLinkArgument()) {
        url += "&ddl_test=1";
    }
    if (const std::string signals = APMConsentSettingsUtil::consentSignals(); !signals.empty()) {
        url += "&gcs=" + APMQueryPercentEncoded(signals);
    }
    const bool isDMARegion = remoteConfig_->isDMARegion();
    url += isDMARegion ? "&dma=1" : "&dma=0";
    if (APMConsentSettingsUtil::isAdUserDataDenied()) {
        url += "&dma_cps=-";
    } else if (const std::set<std::string> services = remoteConfig_->corePlatformServices();
               isDMARegion && !services.empty()) {
        std::string joined;
        for (const std::string& service : services) {  // a set: already sorted
            joined += service;
        }
        url += "&dma_cps=" + APMQueryPercentEncoded(joined);
    }
    if (const std::optional<std::int64_t> personalization =
            APMConsentSettingsUtil::adPersonalization()) {
        url += *personalization == 0 ? "&npa=1" : "&npa=0";
    }
    return url;
}

void APMMeasurement::requestDeferredDeepLink() {
    const std::string url = deferredDeepLinkRequestURL();
    if (!APMIsValidURLString(url)) {
        monitor().logWithLevel(3, 23198, "URL to retrieve Deferred Deep Link is invalid");
        return;
    }
    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(remoteConfig_->networkTimeout());
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    network_->getURL(
        url, {}, scheduler_->workerQueue(), shouldUseBackgroundSession(),
        [weak](const VDUNetwork::Response& response, const VDUNetwork::Data& data,
               const sdk::Error& error) {
            const std::shared_ptr<APMMeasurement> engine = weak.lock();
            if (!engine) {
                return;
            }
            engine->isNetworkRequestPending_ = false;
            const long code = response ? response->statusCode : 0;
            if (!error.ok() || (code != 200 && code != 204 && code != 304)) {
                monitor().logWithLevel(
                    1, 23199,
                    "Failed to retrieve Deferred Deep Link. Will retry on next launch. Code, error",
                    static_cast<std::int64_t>(code), error);
                engine->persistedConfig_->setDeferredDeepLinkRetryCount(
                    engine->persistedConfig_->deferredDeepLinkRetryCount() + 1);
                engine->updateSchedule();
                return;
            }
            engine->persistedConfig_->setDeferredDeepLinkRetrievalComplete(
                sdk::Value(std::int64_t{0}));
            const std::optional<sdk::Value::Dictionary> info = deepLinkInfoFromResponseData(data);
            if (info && !info->empty()) {
                monitor().logWithLevel(7, 23200, "Successfully retrieved Deferred Deep Link");
                engine->handleDeferredDeepLinkInfo(*info);
            } else {
                engine->updateSchedule();
            }
        });
}

std::optional<sdk::Value::Dictionary> APMMeasurement::deepLinkInfoFromResponseData(
    const VDUNetwork::Data& data) {
    if (!data || data->empty()) {
        monitor().logWithLevel(8, 23201, "Deferred Deep Link response is empty");
        return std::nullopt;
    }
    sdk::Value reply;
    sdk::Error error;
    if (data->size() > kMaxReplyBytes) {
        error = sdk::Error(std::string(sdk::kCocoaErrorDomain), sdk::kReadCorruptErrorCode,
                           "The reply is larger than " + std::to_string(kMaxReplyBytes) + " bytes");
    } else {
        error = sdk::parseJson(
            std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), &reply);
    }
    if (!error.ok()) {
        monitor().logWithLevel(1, 23202, "Failed to parse Deferred Deep Link from JSON. Error",
                               error);
        return std::nullopt;
    }
    const sdk::Value::Dictionary* object = reply.dictionary();
    const sdk::Value* link = reply.find("deeplink");
    if (object == nullptr || link == nullptr || link->string() == nullptr ||
        !APMIsValidURLString(*link->string())) {
        return std::nullopt;
    }
    return *object;
}

void APMMeasurement::handleDeferredDeepLinkInfo(const sdk::Value::Dictionary& info) {
    const auto link = info.find("deeplink");
    const std::string* url = link == info.end() ? nullptr : link->second.string();
    if (url == nullptr || !APMIsValidURLString(*url)) {
        return;
    }
    // A reply key that is absent (or null) has no value to pass on.
    sdk::Value::Dictionary extraParameters{{"cis", sdk::Value("ddp")}};
    for (const char* key : {"vclid", "vbraid"}) {
        if (const auto found = info.find(key); found != info.end() && !found->second.isNull()) {
            extraParameters.emplace(key, found->second);
        }
    }
    sdk::Value::Dictionary extraInfo;
    if (const auto found = info.find("timestamp"); found != info.end()) {
        extraInfo.emplace("timestamp", found->second);
    }
    monitor().logWithLevel(8, 23203, "Sending Deferred Deep Link to app delegate");
    const double now = APMCurrentTimeInterval();
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    platform::DispatchQueue::main()->async([weak, link = *url,
                                            extraParameters = std::move(extraParameters),
                                            extraInfo = std::move(extraInfo), now] {
        if (!sendDeepLinkURLToAppDelegateOnMainThread(link, extraInfo)) {
            monitor().logWithLevel(
                3, 23204, "App delegate not configured to handle Deferred Deep Link", link);
            return;
        }
        const std::shared_ptr<APMMeasurement> engine = weak.lock();
        if (!engine) {
            return;
        }
        engine->scheduler_->scheduleOnWorkerQueue(
            "APMMeasurement:424", [weak, link, extraParameters, now] {
                if (const std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                    engine->handleOpenURLOnWorkerQueue(link, std::nullopt, now, extraParameters);
                }
            });
    });
}

bool APMMeasurement::sendDeepLinkURLToAppDelegateOnMainThread(
    const std::string& url, const sdk::Value::Dictionary& extraInfo) {
    (void)extraInfo;  // an activity here carries no user info
    platform::Application& application = platform::Application::shared();
    const platform::Application::DelegateRef delegate = application.delegate();
    constexpr auto kCall = platform::ApplicationDelegate::OptionalCall::kContinueUserActivity;
    if (!delegate || !delegate->implements(kCall)) {
        return false;
    }
    const platform::UserActivity activity{std::string(kAPMBrowsingWebActivityType), url};
    return delegate->applicationContinueUserActivity(
        application, activity,
        [](const std::vector<std::shared_ptr<platform::UserActivityRestoring>>&) {});
}
