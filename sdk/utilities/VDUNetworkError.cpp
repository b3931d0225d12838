#include "sdk/utilities/VDUNetworkError.h"

#include "platform/urlsession/URLSessionTypes.h"

sdk::Error VDUNetworkError(std::int64_t code) {
    std::string_view context = "Failed to create network request";
    if (code == VDUNetworkErrorCodeSessionFailed) {
        context = "Cannot create network session";
    } else if (code == VDUNetworkErrorCodeEmptyResponse) {
        context = "Network Error: Empty network response";
    }
    return sdk::Error(std::string(kVDUNetworkErrorDomain), code, {},
                      {{std::string(kVDUNetworkErrorContextKey), sdk::Value(context)}});
}

sdk::Error VDUNetworkTransportError(std::int64_t code, const std::string& message) {
    return sdk::Error(std::string(platform::kURLSessionErrorDomain), code, message);
}

sdk::Value VDUNetworkErrorContext(const sdk::Error& error) {
    if (error.ok()) {
        return sdk::Value();
    }
    return sdk::Value(error.ToString());
}
