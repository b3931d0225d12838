#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/Value.h"

// What tests reach of APMRemoteConfig beyond its public interface.
class APMRemoteConfigTestPeer {
  public:
    // Makes every measurement service use `origin` ("http://127.0.0.1:8080": scheme, host and
    // port) in place of "https://" and its built-in host; none restores them. Process-wide and
    // safe from any thread; a fixture that sets it clears it when it ends.
    static void setServiceOrigin(std::optional<std::string> origin) {
        APMRemoteConfig::setServiceOriginOverride(std::move(origin));
    }

    // A copy of the configuration's setting value cache.
    static std::map<std::string, sdk::Value, std::less<>> cachedValues(
        const APMRemoteConfig& remoteConfig) {
        return remoteConfig.cachedValueByRemoteConfigKeys_.dictionary();
    }
};
