// The service addresses of the configuration: where to fetch it, where to upload, and the
// server-side tagging upload with its rollout.
#include <curl/curl.h>

#include <cctype>
#include <mutex>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUServiceOrigin.h"

namespace {

APMMonitor& monitor() {
    return APMMonitor::shared();
}

// The app data consent status under which the alternative hosts and URLs apply.
constexpr std::int64_t kAlternativeConsentStatus = 3;

struct OriginOverride {
    std::mutex mutex;
    std::optional<std::string> origin;  // guarded by mutex
};

OriginOverride& originOverride() {
    static OriginOverride* const shared = new OriginOverride();  // lives for the whole process
    return *shared;
}

std::optional<std::string> overriddenOrigin() {
    OriginOverride& o = originOverride();
    std::lock_guard lock(o.mutex);
    return o.origin;
}

// The origin in place of "https://" and the upload host: the process-wide override, else the
// deployment's (its environment); none keeps the built-in host.
std::optional<std::string> uploadOrigin() {
    if (std::optional<std::string> origin = overriddenOrigin()) {
        return origin;
    }
    return VDUServiceOriginFromEnvironment(kVDUMeasurementOriginVariable);
}

std::optional<std::string> configurationOrigin() {
    if (std::optional<std::string> origin = overriddenOrigin()) {
        return origin;
    }
    return VDUServiceOriginFromEnvironment(kVDUConfigurationOriginVariable);
}

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Percent-encodes every byte outside the unreserved and sub-delimiter characters, ":", "@",
// "/" and, for a query, "?".
std::string percentEncoded(std::string_view text, bool query) {
    static constexpr std::string_view kAlsoAllowed = "!$&'()*+,;=:@/";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isUnreserved(c) || kAlsoAllowed.find(ch) != std::string_view::npos ||
            (query && ch == '?')) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

// Dot-separated, non-empty labels of letters, digits and "-": nothing that could move the
// upload to another host or path ("/", "@", ":", "#", ...).
bool isHostLabels(std::string_view subdomain) {
    if (subdomain.empty() || subdomain.size() > 253) {
        return false;
    }
    bool labelEmpty = true;
    for (const char ch : subdomain) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '.') {
            if (labelEmpty) {
                return false;
            }
            labelEmpty = true;
        } else if (std::isalnum(c) != 0 || ch == '-') {
            labelEmpty = false;
        } else {
            return false;
        }
    }
    return !labelEmpty;
}

// Whether libcurl's URL parser takes `text` as an absolute URL.
bool parsesAsURL(const std::string& text) {
    CURLU* url = curl_url();
    if (url == nullptr) {
        return false;
    }
    const bool ok = curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(url);
    return ok;
}

// FNV-1a, 64 bits, over the bytes: the same value for the same ID on every run and machine.
std::uint64_t stableHash(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char ch : text) {
        hash ^= static_cast<unsigned char>(ch);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// Whether the main bundle's Info.plist holds a true number under `key`.
bool infoNumberIsTrue(std::string_view key) {
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return false;
    }
    const auto it = bundle->info().find(key);
    if (it == bundle->info().end()) {
        return false;
    }
    const platform::PlistValue& value = it->second;
    if (const bool* flag = value.getIf<bool>()) {
        return *flag;
    }
    if (const std::int64_t* integer = value.getIf<std::int64_t>()) {
        return *integer != 0;
    }
    if (const double* real = value.getIf<double>()) {
        return *real != 0;
    }
    return false;
}

}  // namespace

std::optional<std::string> APMRemoteConfig::serviceOriginOverride() {
    return overriddenOrigin();
}

void APMRemoteConfig::setServiceOriginOverride(std::optional<std::string> origin) {
    OriginOverride& o = originOverride();
    std::lock_guard lock(o.mutex);
    o.origin = std::move(origin);
}

std::string APMRemoteConfig::serviceOrigin(std::string_view subdomain) {
    std::string scheme = "https";
    std::string host(APMDefaultIdentitySupport::sharedInstance().appDataConsentStatus() ==
                             kAlternativeConsentStatus
                         ? kAlternativeUploadHost
                         : kUploadHost);
    if (const std::optional<std::string> origin = uploadOrigin()) {
        const std::size_t separator = origin->find("://");
        scheme = origin->substr(0, separator);
        host = separator == std::string::npos ? std::string() : origin->substr(separator + 3);
    }
    if (isHostLabels(subdomain)) {
        host = std::string(subdomain) + "." + host;
    }
    return scheme + "://" + host;
}

std::optional<std::string> APMRemoteConfig::remoteConfigURLWithPlatform(
    std::string_view platform, std::int64_t SDKVersion, std::int64_t runtimeVersion) {
    if (appID_.empty()) {
        monitor().logWithLevel(2, 29021,
                               "Cannot create a URL to fetch a configuration with empty app ID");
        return std::nullopt;
    }
    if (platform.empty()) {
        monitor().logWithLevel(2, 29010,
                               "Cannot create a URL to fetch a configuration with empty platform");
        return std::nullopt;
    }
    // The fetch always goes to the upload host itself, never its alternative.
    std::string url;
    if (const std::optional<std::string> origin = configurationOrigin()) {
        url = *origin;
    } else {
        url = "https://" + std::string(kUploadHost);
    }
    url += "/config/app/" + percentEncoded(appID_, false) + "?";
    // In key order.
    const std::pair<std::string_view, std::string> query[] = {
        {"platform", std::string(platform)},
        {"runtime_version", std::to_string(runtimeVersion)},
        {"vud_version", std::to_string(SDKVersion)},
    };
    for (std::size_t i = 0; i < std::size(query); ++i) {
        url += (i == 0 ? "" : "&") + percentEncoded(query[i].first, true) + "=" +
               percentEncoded(query[i].second, true);
    }
    return url;
}

std::string APMRemoteConfig::uploadSubdomain() const {
    if (!remoteConfigProto_) {
        return std::string();
    }
    return APMPBGetString(remoteConfigProto_.get(), apmpb::MeasurementConfig::kUploadSubdomain)
        .value_or("");
}

std::string APMRemoteConfig::uploadURL() {
    return serviceOrigin(uploadSubdomain()) + "/a";
}

bool APMRemoteConfig::STGWUploadEnabled() {
    if (!boolValueFromCacheWithKey("measurement.stgw_upload_enabled", true) ||
        !infoNumberIsTrue("VOVIDU_ANALYTICS_STGW_UPLOAD_ENABLED") || !remoteConfigProto_) {
        return false;
    }
    const std::unique_ptr<APMPBStgwSetting> stgw = APMPBGetMessage<APMPBStgwSetting>(
        remoteConfigProto_.get(), apmpb::MeasurementConfig::kStgwSetting);
    if (!stgw || APMPBGetString(stgw.get(), apmpb::StgwSetting::kUploadUrl).value_or("").empty()) {
        return false;
    }
    if (APMRemoteConfig::STGWPreviewHeaders()) {
        return true;
    }
    return inSTGWRollout(static_cast<std::int32_t>(
        APMPBGetInt32(stgw.get(), apmpb::StgwSetting::kRolloutPercentage)));
}

bool APMRemoteConfig::inSTGWRollout(std::int32_t percentage) {
    const std::string appInstanceID =
        persistedConfig_ ? persistedConfig_->appInstanceID().value_or("") : std::string();
    if (appInstanceID.empty() && percentage < 100) {
        return false;
    }
    return static_cast<std::int64_t>(stableHash(appInstanceID) % 100) < percentage;
}

std::optional<std::string> APMRemoteConfig::STGWUploadURL() {
    const std::unique_ptr<APMPBStgwSetting> stgw =
        remoteConfigProto_ ? APMPBGetMessage<APMPBStgwSetting>(
                                 remoteConfigProto_.get(), apmpb::MeasurementConfig::kStgwSetting)
                           : nullptr;
    if (!stgw) {
        return std::nullopt;
    }
    if (APMDefaultIdentitySupport::sharedInstance().appDataConsentStatus() ==
        kAlternativeConsentStatus) {
        const std::optional<std::string> alternative =
            APMPBGetString(stgw.get(), apmpb::StgwSetting::kAttUploadUrl);
        if (alternative && parsesAsURL(*alternative)) {
            return alternative;
        }
    }
    std::optional<std::string> url = APMPBGetString(stgw.get(), apmpb::StgwSetting::kUploadUrl);
    return url && !url->empty() ? url : std::nullopt;
}

std::optional<std::map<std::string, std::string>> APMRemoteConfig::STGWUploadHTTPHeaders() {
    const std::unique_ptr<APMPBStgwSetting> stgw =
        remoteConfigProto_ ? APMPBGetMessage<APMPBStgwSetting>(
                                 remoteConfigProto_.get(), apmpb::MeasurementConfig::kStgwSetting)
                           : nullptr;
    if (!stgw) {
        return std::nullopt;
    }
    const std::string serverInfo =
        APMPBGetString(stgw.get(), apmpb::StgwSetting::kServerInfo).value_or("");
    if (serverInfo.empty()) {
        return std::nullopt;
    }
    return std::map<std::string, std::string>{{"x-stgw-server-info", serverInfo}};
}
