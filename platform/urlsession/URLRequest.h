#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Bodies larger than this are refused unless a request sets its own cap.
inline constexpr std::size_t kDefaultMaxResponseBytes = 16u << 20;

// One HTTP request as a URLSession sends it. Only "http" and "https" addresses are sent, and
// only those schemes are followed on redirects.
struct URLRequest {
    // "GET", "POST" or another method name.
    std::string method = "GET";
    // The absolute address, sent as written.
    std::string url;
    // Headers besides the transfer's own (Host, Accept); a header named here replaces that one.
    std::vector<std::pair<std::string, std::string>> headers;
    // The body; a POST without one sends an empty body.
    std::optional<std::string> body;
    // Limit on the whole exchange, redirects included.
    std::chrono::milliseconds timeout{60'000};
    // The largest response body accepted; a larger one ends the transfer with responseTooLarge.
    std::size_t maxResponseBytes = kDefaultMaxResponseBytes;
};

// Why a transfer produced no response.
enum class URLErrorCode {
    unsupportedURL,    // not an absolute http or https address, or redirected to another
                       // scheme or from https to http
    timedOut,          // the request's timeout passed
    responseTooLarge,  // the body went past the request's maxResponseBytes
    cancelled,         // the session was destroyed before the transfer ended
    failed,            // anything else: name resolution, connection, TLS, a broken response
};

// The result of one transfer: an HTTP status with the body (of the last response when redirects
// were followed), or an error.
struct URLOutcome {
    std::optional<URLErrorCode> error;
    std::string errorMessage;  // the transfer library's text, for diagnostics; empty on success
    long statusCode = 0;       // 0 when `error` is set
    std::string body;          // empty when `error` is set

    bool ok() const { return !error.has_value(); }
};

}  // namespace platform
