#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "tests/sdk/measurement/attribution/PlistFileTestSupport.h"
#include "tests/sdk/measurement/engine/APMDefaultIdentitySupportTestPeer.h"

namespace sdktest {

// An identity support that reports limited-ad-tracking information: the device ID (none: not
// available) and the tracking-authorisation status it is made with.
class TrackingSupport : public APMIdentitySupport {
  public:
    TrackingSupport(std::optional<std::string> deviceID, std::int64_t authorization)
        : deviceID_(std::move(deviceID)), authorization_(authorization) {}
    bool hasAppDataConsentStatus() override { return false; }
    std::int64_t appDataConsentStatus() override { return -1; }
    bool hasLimitedAdTracking() override { return true; }
    std::optional<std::int64_t> trackingAuthorizationStatus() override { return authorization_; }
    std::optional<std::string> resettableDeviceID() override { return deviceID_; }

  private:
    const std::optional<std::string> deviceID_;
    const std::int64_t authorization_;
};

// Installs `support` as the platform's identity support while it lives.
class ScopedIdentitySupport {
  public:
    explicit ScopedIdentitySupport(std::shared_ptr<APMIdentitySupport> support) {
        APMDefaultIdentitySupportTestPeer::setPlatformSupport(
            APMDefaultIdentitySupport::sharedInstance(), std::move(support));
    }
    ~ScopedIdentitySupport() {
        APMDefaultIdentitySupportTestPeer::setPlatformSupport(
            APMDefaultIdentitySupport::sharedInstance(), nullptr);
    }
    ScopedIdentitySupport(const ScopedIdentitySupport&) = delete;
    ScopedIdentitySupport& operator=(const ScopedIdentitySupport&) = delete;
};

// The string under `key` of the plist file `file`, read with libplist; none when absent or not
// a string.
inline std::optional<std::string> plistString(const std::filesystem::path& file,
                                              std::string_view key) {
    return readPlistItem<std::string>(file, key, [](plist_t node) -> std::optional<std::string> {
        if (!node || plist_get_node_type(node) != PLIST_STRING) {
            return std::nullopt;
        }
        char* text = nullptr;
        plist_get_string_val(node, &text);
        std::string result(text);
        free(text);
        return result;
    });
}

// The data value under `key` of the persisted configuration's file, read with libplist after
// the configuration wrote it; none when absent or not data.
inline std::optional<std::string> persistedData(APMPersistedConfig& config, std::string_view key) {
    config.userDefaults()->persistToDisk();
    return readPlistItem<std::string>(config.userDefaults()->fileURL(), key,
                                      [](plist_t node) -> std::optional<std::string> {
                                          if (!node || plist_get_node_type(node) != PLIST_DATA) {
                                              return std::nullopt;
                                          }
                                          char* data = nullptr;
                                          std::uint64_t length = 0;
                                          plist_get_data_val(node, &data, &length);
                                          std::string result(data, length);
                                          free(data);
                                          return result;
                                      });
}

}  // namespace sdktest
