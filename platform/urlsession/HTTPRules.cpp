#include "platform/urlsession/HTTPRules.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <mutex>

namespace platform::urlsession_detail {

namespace {

constexpr const char* kSystemCertificateFolder = "/etc/ssl/certs";

std::mutex extraCAMutex;
std::filesystem::path extraCAFile;  // guarded by extraCAMutex; a test hook

struct CurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::optional<std::string> part(CURLU* url, CURLUPart which, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, flags) != CURLUE_OK || text == nullptr) {
        return std::nullopt;
    }
    std::string copy(text);
    curl_free(text);
    return copy;
}

}  // namespace

std::optional<std::string> invalidHeaderField(
    const std::vector<std::pair<std::string, std::string>>& headers) {
    for (const auto& [name, value] : headers) {
        if (name.empty() || name.find(':') != std::string::npos || hasLineBreakOrNul(name)) {
            return "the header field name \"" + lowerCase(name.substr(0, 64)) +
                   "\" is empty or holds a colon, CR, LF or NUL";
        }
        if (hasLineBreakOrNul(value)) {
            return "the value of the header field \"" + name + "\" holds CR, LF or NUL";
        }
    }
    return std::nullopt;
}

bool isCredentialHeader(std::string_view name) {
    const std::string lower = lowerCase(name);
    if (lower == "authorization" || lower == "proxy-authorization" || lower == "cookie") {
        return true;
    }
    constexpr std::array<std::string_view, 4> kMarks = {"api-key", "apikey", "-auth", "token"};
    return std::any_of(kMarks.begin(), kMarks.end(), [&](std::string_view mark) {
        return lower.find(mark) != std::string::npos;
    });
}

std::optional<std::string> originOf(const std::string& url) {
    std::unique_ptr<CURLU, CurlUrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    const std::optional<std::string> scheme = part(parsed.get(), CURLUPART_SCHEME);
    const std::optional<std::string> host = part(parsed.get(), CURLUPART_HOST);
    const std::optional<std::string> port = part(parsed.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || !port) {
        return std::nullopt;
    }
    const std::string lowerScheme = lowerCase(*scheme);
    if (lowerScheme != "http" && lowerScheme != "https") {
        return std::nullopt;
    }
    return lowerScheme + "://" + lowerCase(*host) + ":" + *port;
}

bool isDowngrade(const std::string& from, const std::string& to) {
    const std::optional<std::string> source = originOf(from);
    const std::optional<std::string> target = originOf(to);
    return source && source->starts_with("https:") && (!target || !target->starts_with("https:"));
}

bool isNonIdempotent(std::string_view method) {
    constexpr std::array<std::string_view, 6> kIdempotent = {"GET",    "HEAD",    "PUT",
                                                             "DELETE", "OPTIONS", "TRACE"};
    return std::find(kIdempotent.begin(), kIdempotent.end(), method) == kIdempotent.end();
}

void setExtraCertificateAuthorities(std::filesystem::path caFile) {
    std::lock_guard lock(extraCAMutex);
    extraCAFile = std::move(caFile);
}

URLRequest redirectedRequest(const URLRequest& previous, long status, std::string location,
                             const std::string& origin) {
    URLRequest next = previous;
    next.url = std::move(location);
    if (originOf(next.url) != origin) {
        std::erase_if(next.headers,
                      [](const auto& header) { return isCredentialHeader(header.first); });
    }
    const bool toGet = status == 303
                           ? previous.method != "HEAD"
                           : (status == 301 || status == 302) && previous.method == "POST";
    if (toGet) {
        next.method = "GET";
        next.body.reset();
        std::erase_if(next.headers, [](const auto& header) {
            const std::string name = lowerCase(header.first);
            return name == "content-type" || name == "content-encoding";
        });
    }
    return next;
}

bool configureTrust(void* easy) {
    std::lock_guard lock(extraCAMutex);
    if (extraCAFile.empty()) {
        return true;
    }
    return curl_easy_setopt(easy, CURLOPT_CAINFO, extraCAFile.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_CAPATH, kSystemCertificateFolder) == CURLE_OK;
}

}  // namespace platform::urlsession_detail
