#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// Header fields as name-value pairs, in the order they are sent or were received.
using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

// Returns the value of the first header named `name` (compared without regard to case); no
// value when there is none.
std::optional<std::string> headerValue(const HTTPHeaders& headers, std::string_view name);

// How a URLTaskSession behaves, in place of a platform session configuration.
struct URLSessionConfiguration {
    enum class Kind {
        kDefault,     // cookies kept for the session's lifetime
        kEphemeral,   // no cookies; nothing outlives a transfer
        kBackground,  // as kDefault, with an identifier; runs in this process
    };

    Kind kind = Kind::kDefault;
    // The background session's identifier; empty for the other kinds.
    std::string identifier;
    // Sent with every request of the session; a header of the request itself wins.
    HTTPHeaders additionalHeaders;
    // Limit on connecting and on each wait for more data.
    std::chrono::milliseconds timeoutIntervalForRequest{60'000};
    // Limit on a whole task, redirects included.
    std::chrono::milliseconds timeoutIntervalForResource{7 * 24 * 3600 * 1000LL};

    static URLSessionConfiguration defaultConfiguration() { return {}; }
    static URLSessionConfiguration ephemeralConfiguration() {
        URLSessionConfiguration configuration;
        configuration.kind = Kind::kEphemeral;
        return configuration;
    }
    static URLSessionConfiguration backgroundConfiguration(std::string identifier) {
        URLSessionConfiguration configuration;
        configuration.kind = Kind::kBackground;
        configuration.identifier = std::move(identifier);
        return configuration;
    }
};

// One HTTP response's head.
struct HTTPURLResponse {
    std::string url;  // the address that answered
    long statusCode = 0;
    HTTPHeaders headers;
};

// Error domain of transport failures; the code is the transfer library's result code.
inline constexpr std::string_view kURLSessionErrorDomain = "platform.urlsession.ErrorDomain";

// Codes of URLSessionError that callers tell apart: the response body went past the request's
// cap (announced or not), and the task's time ran out.
inline constexpr long kURLSessionErrorResponseTooLarge = 63;
inline constexpr long kURLSessionErrorTimedOut = 28;

// Why a task ended without a response, or with a response whose body did not arrive whole.
struct URLSessionError {
    long code = 0;        // the transfer library's result code
    std::string message;  // its text
    // True when the server's certificate or host name could not be verified.
    bool trustFailure = false;
};

}  // namespace platform
