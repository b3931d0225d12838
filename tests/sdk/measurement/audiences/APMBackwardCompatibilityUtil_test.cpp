#include "sdk/measurement/audiences/APMBackwardCompatibilityUtil.h"

#include <gtest/gtest.h>

namespace {

class RecordingInstance : public APMBackwardCompatibilityUtil::SwitchableInstance {
  public:
    void setIsEnabled(bool enabled) override { calls.push_back(enabled); }
    std::vector<bool> calls;
};

// A stand-in for an older component registered under the looked-up name.
class OlderComponent : public APMBackwardCompatibilityUtil::SwitchableClass {
  public:
    explicit OlderComponent(std::shared_ptr<RecordingInstance> instance)
        : instance_(std::move(instance)) {}
    std::string className() const override { return "VIZIverirozidi"; }
    std::shared_ptr<APMBackwardCompatibilityUtil::SwitchableInstance> sharedInstance()
        const override {
        return instance_;
    }

  private:
    std::shared_ptr<RecordingInstance> instance_;
};

class NamedOnly : public VDUClass {
  public:
    std::string className() const override { return "VIZIverirozidi"; }
};

class BackwardCompatibility : public ::testing::Test {
  protected:
    void TearDown() override { VDUClassRegistry::TEST_unregisterClass("VIZIverirozidi"); }
};

TEST_F(BackwardCompatibility, NothingToDisableWithoutTheComponent) {
    EXPECT_FALSE(APMBackwardCompatibilityUtil::disableVIZIverirozidi());
}

TEST_F(BackwardCompatibility, AClassThatCannotBeSwitchedIsLeftAlone) {
    ASSERT_TRUE(VDUClassRegistry::registerClass(std::make_shared<NamedOnly>()));
    EXPECT_FALSE(APMBackwardCompatibilityUtil::disableVIZIverirozidi());
}

TEST_F(BackwardCompatibility, NoSharedInstanceGivesNo) {
    ASSERT_TRUE(VDUClassRegistry::registerClass(std::make_shared<OlderComponent>(nullptr)));
    EXPECT_FALSE(APMBackwardCompatibilityUtil::disableVIZIverirozidi());
}

TEST_F(BackwardCompatibility, ThePresentComponentIsSwitchedOff) {
    auto instance = std::make_shared<RecordingInstance>();
    ASSERT_TRUE(VDUClassRegistry::registerClass(std::make_shared<OlderComponent>(instance)));
    EXPECT_TRUE(APMBackwardCompatibilityUtil::disableVIZIverirozidi());
    EXPECT_EQ(instance->calls, std::vector<bool>{false});
}

}  // namespace
