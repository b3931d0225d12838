#include "sdk/measurement/attribution/APMCampaignURL.h"

#include <curl/curl.h>

#include <memory>

namespace {

struct CurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

// The parsed URL, or null when libcurl does not take `text` as an absolute URL. No default
// scheme is guessed, so a relative reference is refused; an app's own scheme is fine.
CurlUrl parsedURL(std::string_view text) {
    if (text.empty() || text.find('\0') != std::string_view::npos) {
        return nullptr;
    }
    CurlUrl url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, std::string(text).c_str(),
                             CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return nullptr;
    }
    return url;
}

constexpr std::string_view kActivityTypeKey = "activityType";
constexpr std::string_view kWebpageURLKey = "webpageURL";

}  // namespace

bool APMIsValidURLString(std::string_view text) {
    return parsedURL(text) != nullptr;
}

std::optional<std::string> APMURLQuery(std::string_view text) {
    const CurlUrl url = parsedURL(text);
    if (!url) {
        return std::nullopt;
    }
    char* query = nullptr;
    if (curl_url_get(url.get(), CURLUPART_QUERY, &query, 0) != CURLUE_OK || query == nullptr) {
        return std::nullopt;
    }
    std::string result(query);
    curl_free(query);
    return result;
}

sdk::Value APMValueFromUserActivity(const platform::UserActivity& activity) {
    sdk::Value::Dictionary dictionary{
        {std::string(kActivityTypeKey), sdk::Value(activity.activityType)}};
    if (activity.webpageURL) {
        dictionary.emplace(std::string(kWebpageURLKey), sdk::Value(*activity.webpageURL));
    }
    return sdk::Value(std::move(dictionary));
}

std::optional<platform::UserActivity> APMUserActivityFromValue(const sdk::Value* value) {
    const sdk::Value::Dictionary* dictionary = value ? value->dictionary() : nullptr;
    if (dictionary == nullptr) {
        return std::nullopt;
    }
    const auto type = dictionary->find(kActivityTypeKey);
    const std::string* typeText = type == dictionary->end() ? nullptr : type->second.string();
    if (typeText == nullptr) {
        return std::nullopt;
    }
    platform::UserActivity activity{*typeText, std::nullopt};
    if (const auto url = dictionary->find(kWebpageURLKey); url != dictionary->end()) {
        if (const std::string* text = url->second.string()) {
            activity.webpageURL = *text;
        }
    }
    return activity;
}
