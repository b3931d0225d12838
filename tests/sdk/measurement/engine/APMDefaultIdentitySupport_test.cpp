// Without a platform identity support (always so on Linux) there is no advertising identifier.
#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/APMDefaultIdentitySupportTestPeer.h"

namespace {

TEST(APMDefaultIdentitySupportTest, WithoutSupportLogsOnceAndAnswersNoIdentifier) {
    sdktest::MonitorRecorder recorder;
    for (int i = 0; i < 3; ++i) {
        APMDefaultIdentitySupport& support = APMDefaultIdentitySupport::sharedInstance();
        EXPECT_FALSE(support.hasLimitedAdTracking());
        EXPECT_FALSE(support.hasAppDataConsentStatus());
        EXPECT_EQ(support.appDataConsentStatus(), -1);
        EXPECT_FALSE(support.trackingAuthorizationStatus());
        EXPECT_EQ(support.resettableDeviceID(), std::nullopt);
        EXPECT_TRUE(support.limitedAdTracking());
    }
    const std::vector<std::int64_t> codes = recorder.codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 44003), 1);
}

// A support whose answer comes late: the caller waits at most 10 ms and then takes what was
// stored before; the late answer is there for the next call.
class SlowSupport : public APMIdentitySupport {
  public:
    bool hasAppDataConsentStatus() override { return false; }
    std::int64_t appDataConsentStatus() override { return -1; }
    std::optional<std::string> resettableDeviceID() override {
        std::unique_lock lock(mutex_);
        released_.wait(lock, [&] { return release_; });
        return "AAAA";
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            release_ = true;
        }
        released_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
};

TEST(APMDefaultIdentitySupportTest, LateIdentifierIsNotWaitedForButKept) {
    auto slow = std::make_shared<SlowSupport>();
    APMDefaultIdentitySupport& support = APMDefaultIdentitySupport::sharedInstance();
    APMDefaultIdentitySupportTestPeer::setPlatformSupport(support, slow);
    EXPECT_EQ(support.resettableDeviceID(), std::nullopt);
    slow->release();
    // Once the support answers, a later call sees the identifier (asked until it does, with
    // no assumption about how soon).
    std::optional<std::string> id;
    for (int i = 0; i < 100000 && !id; ++i) {
        id = support.resettableDeviceID();
    }
    EXPECT_EQ(id, "AAAA");
    EXPECT_FALSE(support.limitedAdTracking());
    APMDefaultIdentitySupportTestPeer::setPlatformSupport(support, nullptr);
}

}  // namespace
