#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "tests/sdk/measurement/engine/APMDefaultIdentitySupportTestPeer.h"
#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace sdktest {

inline bool isUpperHex32(const std::string& id) {
    return id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

// Sets the consent state so that exactly the storage types named are denied.
inline void denyStorage(bool adDenied, bool analyticsDenied) {
    APMConsentSettingsUtil::setConsentSettings(
        APMConsentSettings{{"ad_storage", adDenied ? "denied" : "granted"},
                           {"analytics_storage", analyticsDenied ? "denied" : "granted"}});
}

// A support object in the role of the platform's identity support.
class FakeSupport : public APMIdentitySupport {
  public:
    bool hasAppDataConsentStatus() override { return false; }
    std::int64_t appDataConsentStatus() override { return -1; }
    bool hasLimitedAdTracking() override { return true; }
    std::optional<std::int64_t> trackingAuthorizationStatus() override {
        std::lock_guard lock(mutex_);
        return status_;
    }
    std::optional<std::string> resettableDeviceID() override {
        std::lock_guard lock(mutex_);
        ++reads_;
        return id_;
    }
    void set(std::optional<std::string> id, std::optional<std::int64_t> status = 3) {
        std::lock_guard lock(mutex_);
        id_ = std::move(id);
        status_ = status;
    }
    int reads() {
        std::lock_guard lock(mutex_);
        return reads_;
    }

  private:
    std::mutex mutex_;
    std::optional<std::string> id_;
    std::optional<std::int64_t> status_ = 3;
    int reads_ = 0;
};

class IdentityTest : public RemoteConfigTest {
  protected:
    void TearDown() override {
        APMConsentSettingsUtil::clearAllSettings();
        APMDefaultIdentitySupportTestPeer::setPlatformSupport(
            APMDefaultIdentitySupport::sharedInstance(), nullptr);
        platform::Bundle::TEST_setMainBundle(std::nullopt);
        RemoteConfigTest::TearDown();
    }

    // An identity that refreshes on every read, with the tracking gate as given.
    std::shared_ptr<APMIdentity> makeIdentity(bool gate = false) {
        auto remote = configWithSettings(
            {{"measurement.ad_id_cache_time", "0"}, {"measurement.attmas_gate", gate ? "1" : "0"}});
        return APMIdentity::initWithPersistedConfig(config_, remote);
    }

    // Gives the support object the platform support's role and asks it until its identifier
    // has arrived, so the identity's own (briefly waited) reads see it whatever the load.
    void installSupport(std::optional<std::string> id, std::optional<std::int64_t> status = 3) {
        support_->set(id, status);
        APMDefaultIdentitySupport& support = APMDefaultIdentitySupport::sharedInstance();
        APMDefaultIdentitySupportTestPeer::setPlatformSupport(support, support_);
        for (int i = 0; id && i < 100000 && support.resettableDeviceID() != id; ++i) {
        }
    }

    std::filesystem::path plist() const {
        return measurementFolder() / "com.example.measurement.plist";
    }

    std::shared_ptr<FakeSupport> support_ = std::make_shared<FakeSupport>();
};

}  // namespace sdktest
