#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "sdk/measurement/attribution/AAAttribution.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "tests/sdk/measurement/attribution/PlistFileTestSupport.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/storage/APMRemoteConfigTestPeer.h"

namespace sdktest {

// The engine clock stopped at `now` and the SDK's services at `origin` while it lives.
class ScopedClockAndOrigin {
  public:
    ScopedClockAndOrigin(double now, const std::string& origin) {
        TEST_APMSetCurrentTimeInterval(now);
        APMRemoteConfigTestPeer::setServiceOrigin(origin);
    }
    ~ScopedClockAndOrigin() {
        APMRemoteConfigTestPeer::setServiceOrigin(std::nullopt);
        TEST_APMSetCurrentTimeInterval(std::nullopt);
    }
    ScopedClockAndOrigin(const ScopedClockAndOrigin&) = delete;
    ScopedClockAndOrigin& operator=(const ScopedClockAndOrigin&) = delete;
};

// A stand-in for the platform's attribution class: hands out `token`, or fails with an error,
// and records the persisted retry count it saw at each call.
class FakeAttribution : public AAAttribution {
  public:
    explicit FakeAttribution(std::shared_ptr<APMPersistedConfig> config)
        : config_(std::move(config)) {}

    std::optional<std::string> attributionTokenWithError(sdk::Error* error) const override {
        std::lock_guard lock(mutex_);
        retryCountsSeen_.push_back(config_->searchAdRetryCount());
        if (fails_) {
            *error = sdk::Error("AAAttributionErrorDomain", 3, "No token on this device");
            return std::nullopt;
        }
        return token_;
    }

    void setFails(bool fails) {
        std::lock_guard lock(mutex_);
        fails_ = fails;
    }
    std::vector<std::int64_t> retryCountsSeen() const {
        std::lock_guard lock(mutex_);
        return retryCountsSeen_;
    }

  private:
    const std::shared_ptr<APMPersistedConfig> config_;
    mutable std::mutex mutex_;
    std::string token_ = "token-1";                      // guarded by mutex_
    bool fails_ = false;                                 // guarded by mutex_
    mutable std::vector<std::int64_t> retryCountsSeen_;  // guarded by mutex_
};

// Registers a FakeAttribution under "AAAttribution" while it lives.
class RegisteredAttribution {
  public:
    explicit RegisteredAttribution(std::shared_ptr<APMPersistedConfig> config)
        : fake_(std::make_shared<FakeAttribution>(std::move(config))) {
        VDUClassRegistry::registerClass(fake_);
    }
    ~RegisteredAttribution() { VDUClassRegistry::TEST_unregisterClass(AAAttribution::kClassName); }
    RegisteredAttribution(const RegisteredAttribution&) = delete;
    RegisteredAttribution& operator=(const RegisteredAttribution&) = delete;

    FakeAttribution& operator*() const { return *fake_; }
    FakeAttribution* operator->() const { return fake_.get(); }

  private:
    std::shared_ptr<FakeAttribution> fake_;
};

// One value of a plist file as libplist reads it: a boolean, an integer or a double; no value
// when the key is absent or the file unreadable.
using PlistScalar = std::variant<bool, std::int64_t, double>;

inline std::optional<PlistScalar> plistValue(const std::filesystem::path& file,
                                             std::string_view key) {
    return readPlistItem<PlistScalar>(file, key, [](plist_t node) -> std::optional<PlistScalar> {
        switch (node ? plist_get_node_type(node) : PLIST_NONE) {
            case PLIST_BOOLEAN: {
                std::uint8_t flag = 0;
                plist_get_bool_val(node, &flag);
                return flag != 0;
            }
            case PLIST_UINT: {
                std::uint64_t number = 0;
                plist_get_uint_val(node, &number);
                return static_cast<std::int64_t>(number);
            }
            case PLIST_REAL: {
                double number = 0;
                plist_get_real_val(node, &number);
                return number;
            }
            default:
                return std::nullopt;
        }
    });
}

// Writes a binary plist holding only `key` = `value`, as an earlier run of the program left it.
inline void writePlistWithBool(const std::filesystem::path& file, std::string_view key,
                               bool value) {
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, std::string(key).c_str(), plist_new_bool(value ? 1 : 0));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(bytes, length);
    free(bytes);
    plist_free(root);
}

// The persisted config's value under `key`, after writing it to its file.
inline std::optional<PlistScalar> persistedValue(APMPersistedConfig& config, std::string_view key) {
    config.userDefaults()->persistToDisk();
    return plistValue(config.userDefaults()->fileURL(), key);
}

}  // namespace sdktest
