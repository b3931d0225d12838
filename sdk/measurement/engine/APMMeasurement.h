#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sdk/measurement/engine/APMMonitor.h"

class APMRemoteConfig;

// The measurement engine. For now it holds only the engine's one monitor, which the stores
// log through; event intake, sessions and uploads come with the engine itself.
class APMMeasurement {
  public:
    APMMeasurement() = delete;

    // The engine's one monitor, made on first use and alive for the rest of the process.
    // Safe from any thread.
    static APMMonitor& monitor();

    // The remote configuration in force: the one installed with setRemoteConfig, else
    // APMRemoteConfig::defaultInstance(). Never null. Safe from any thread. (Defined with
    // APMRemoteConfig, in the storage library.)
    static std::shared_ptr<APMRemoteConfig> remoteConfig();
    // Installs the engine's configuration; null goes back to the default instance.
    static void setRemoteConfig(std::shared_ptr<APMRemoteConfig> remoteConfig);

    // Whether the engine's shared instance exists: false until the engine is built.
    static bool hasSharedInstance() { return false; }

    // The server-side-tagging preview headers set from a debug-mode link; none until set.
    // Safe from any thread.
    static std::optional<std::map<std::string, std::string>> STGWPreviewHeaders();
    static void setSTGWPreviewHeaders(std::optional<std::map<std::string, std::string>> headers);
};
