#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/utilities/Error.h"

inline constexpr std::string_view kVDUNetworkErrorDomain = "com.vdu.network.ErrorDomain";
// User-info key of the one entry every network error carries.
inline constexpr std::string_view kVDUNetworkErrorContextKey = "Context";

enum VDUNetworkErrorCode : std::int64_t {
    VDUNetworkErrorCodeInvalidURL = 1,     // the URL's absolute string is empty
    VDUNetworkErrorCodeSessionFailed = 2,  // the session or its task cannot be made
    VDUNetworkErrorCodeGzipFailed = 3,     // the POST body cannot be gzipped
    VDUNetworkErrorCodeRequestFailed = 4,  // the request cannot be made or sent
    VDUNetworkErrorCodeEmptyResponse = 5,  // neither a response nor an error
};

// The error of `code` with its "Context" text.
sdk::Error VDUNetworkError(std::int64_t code);

// A transport failure of the URL session layer as an error value (its domain, libcurl's code
// and message).
sdk::Error VDUNetworkTransportError(std::int64_t code, const std::string& message);

// The context value describing `error`, as a log line shows it.
sdk::Value VDUNetworkErrorContext(const sdk::Error& error);
