// Links that reach the engine from outside its worker queue: the web-browsing activity, the
// launch options of the finished-launching notification and the server-side tagging switch.
#include <algorithm>
#include <mutex>

#include "sdk/measurement/attribution/APMCampaignURL.h"
#include "sdk/measurement/engine/APMDeepLink.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/measurement/engine/APMQueryString.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/engine/core/APMScreenViewReporter.h"

namespace {

constexpr std::string_view kPreviewHeaderName = "X-Tgw-Server-Preview";
// A preview key longer than this is not a key.
constexpr std::size_t kMaxPreviewKeyLength = 256;

// The key becomes a header value of every later upload: only printable ASCII without spaces,
// so a link cannot end the header early and add one of its own.
bool isValidPreviewKey(const std::string& key) {
    return !key.empty() && key.size() <= kMaxPreviewKeyLength &&
           std::all_of(key.begin(), key.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

}  // namespace

// GCC 12 takes the variant inside the monitor's context, once its move is inlined here, for
// maybe uninitialized; the context is built whole before it moves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
std::optional<std::string> APMMeasurement::deepLinkFromUserActivity(
    const std::optional<platform::UserActivity>& activity) {
    if (!activity) {
        monitor().logWithLevel(7, 23003, "User Activity is empty. User Activity");
        return std::nullopt;
    }
    // Every activity here has a type and a webpage URL, so "not supported" (23005) cannot
    // happen.
    if (activity->activityType == kAPMBrowsingWebActivityType && activity->webpageURL &&
        !activity->webpageURL->empty()) {
        return activity->webpageURL;
    }
    sdk::Value::Dictionary context{{"activityType", sdk::Value(activity->activityType)}};
    if (activity->webpageURL) {
        context.emplace("webpageURL", sdk::Value(*activity->webpageURL));
    }
    monitor().logWithLevel(3, 23006, "User Activity does not have Deep Link. User Activity",
                           sdk::Value(std::move(context)));
    return std::nullopt;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

void APMMeasurement::handleSTGWDebugModeWithURL(const std::string& url) {
    const std::optional<std::string> query = APMURLQuery(url);
    if (!query) {
        return;
    }
    const auto arguments = apm_dictionaryWithHttpArgumentsString(*query);
    const auto enable = arguments.find("stgw_debug_enable");
    if (enable == arguments.end()) {
        return;
    }
    if (enable->second == "1") {
        monitor().setSTGWDebugModeEnabled(true);
        // The preview header carries the key's value from the link.
        auto key = arguments.find("stgw_preview_key");
        if (key != arguments.end() && !key->second.empty() && !isValidPreviewKey(key->second)) {
            monitor().logWithLevel(4, 23004,
                                   "Server-side tagging preview key is not valid. Key ignored");
            key = arguments.end();
        }
        if (key != arguments.end() && !key->second.empty()) {
            setSTGWPreviewHeaders(
                std::map<std::string, std::string>{{std::string(kPreviewHeaderName), key->second}});
        } else {
            setSTGWPreviewHeaders(std::nullopt);
        }
    } else if (enable->second == "0") {
        monitor().setSTGWDebugModeEnabled(false);
        setSTGWPreviewHeaders(std::nullopt);
    }
}

void APMMeasurement::handleStoredURLAfterAppLaunchWithNotification(
    const VDUNotification& notification) {
    const sdk::Value::Dictionary& userInfo = notification.userInfo;
    std::optional<platform::UserActivity> activity;
    if (const auto options = userInfo.find(kAPMLaunchOptionsUserActivityDictionaryKey);
        options != userInfo.end()) {
        activity = APMUserActivityFromValue(options->second.find(kAPMLaunchOptionsUserActivityKey));
    }
    APMUserDefaults& defaults = APMUserDefaults::sharedUserDefaults();
    bool storedActivityURL = false;
    if (const std::optional<std::string> link = deepLinkFromUserActivity(activity);
        link && !link->empty()) {
        APMStoreDeepLink(defaults, *link);
        storedActivityURL = true;
    }
    const auto launchURL = userInfo.find(kAPMLaunchOptionsURLKey);
    const std::string* url = launchURL == userInfo.end() ? nullptr : launchURL->second.string();
    if (url == nullptr) {
        return;
    }
    if (!storedActivityURL) {
        APMStoreDeepLink(defaults, *url);
    }
    handleSTGWDebugModeWithURL(*url);
}

namespace {

// The finished-launching observation, kept for the rest of the process as the observation of a
// loaded class would be.
VDUObserverToken& appDidFinishLaunchingObserver() {
    static VDUObserverToken* const token = new VDUObserverToken();  // process-long
    return *token;
}

}  // namespace

void APMMeasurement::subscribeForAppDidFinishLaunchingNotifications() {
    static std::once_flag once;
    std::call_once(once, [] {
        appDidFinishLaunchingObserver() = VDUNotificationCenter::defaultCenter().addObserverForName(
            std::string(APMAppDidFinishLaunchingNotificationName()), nullptr,
            [](const VDUNotification& notification) {
                // The screen-view reporter must exist before the first activation.
                APMScreenViewReporter::sharedInstance();
                if (!notification.userInfo.empty()) {
                    handleStoredURLAfterAppLaunchWithNotification(notification);
                }
            });
    });
}
