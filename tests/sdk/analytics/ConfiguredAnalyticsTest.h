#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "sdk/analytics/REROdazadeve.h"
#include "sdk/core/ZEDOre.h"
#include "tests/sdk/analytics/RecordingSink.h"
#include "tests/sdk/core/CoreTestSupport.h"
#include "tests/sdk/core/OptionsFixture.h"

namespace sdktest {

// A fixture with the analytics classes registered, a main bundle with a valid options list
// (configure() would succeed) and a recording sink installed; the core's apps are reset before
// and after each test. The user's folders are temporary ones (CoreTestSupport.h).
class ConfiguredAnalyticsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZEDOre::resetApps();
        REROdazadeve::registerClasses();
        options_.use();
        options_.writeOptions({{"VOVIDU_APP_ID", kValidAppID}});
        REROdazadeve::setSink(sink_);
    }
    void TearDown() override {
        REROdazadeve::setSink(nullptr);
        ZEDOre::resetApps();
        platform::Bundle::TEST_setMainBundle(std::nullopt);
        VIZUveziza::resetDefaultOptions();
    }

    OptionsFixture options_;
    std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

}  // namespace sdktest
