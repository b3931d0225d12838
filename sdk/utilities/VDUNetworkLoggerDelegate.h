#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sdk/utilities/Value.h"

// Log levels of the network client.
enum VDUNetworkLogLevel : std::int64_t {
    VDUNetworkLogLevelError = 3,
    VDUNetworkLogLevelWarning = 4,
    VDUNetworkLogLevelInfo = 6,
    VDUNetworkLogLevelDebug = 7,
};

// Receives the network client's diagnostics in place of its own console and logger output.
// A message may be absent (nil); a null context value stands for a missing object.
class VDUNetworkLoggerDelegate {
  public:
    virtual ~VDUNetworkLoggerDelegate() = default;
    virtual void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                         const std::optional<std::string>& message,
                                         const std::vector<sdk::Value>& contexts) = 0;
    virtual void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                         const std::optional<std::string>& message,
                                         const sdk::Value& context) = 0;
    virtual void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                         const std::optional<std::string>& message) = 0;
};

// Told when the network client's connected flag may have changed.
class VDUNetworkReachabilityDelegate {
  public:
    virtual ~VDUNetworkReachabilityDelegate() = default;
    virtual void reachabilityDidChange() = 0;
};
