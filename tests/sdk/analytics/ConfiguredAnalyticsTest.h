#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "sdk/analytics/REROdazadeve.h"
#include "sdk/core/ZEDOre.h"
#include "tests/sdk/analytics/RecordingSink.h"
#include "tests/sdk/core/OptionsFixture.h"

namespace sdktest {

// A fixture with a valid options list in place (configure() would succeed) and a recording sink
// installed; the core's apps are reset before and after each test.
class ConfiguredAnalyticsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZEDOre::resetApps();
        ZEDOre::TEST_setResourcesDirectory(options_.resources());
        options_.writeOptions({{"VOVIDU_APP_ID", kValidAppID}});
        REROdazadeve::setSink(sink_);
    }
    void TearDown() override {
        REROdazadeve::setSink(nullptr);
        ZEDOre::resetApps();
        ZEDOre::TEST_setResourcesDirectory(std::nullopt);
    }

    OptionsFixture options_;
    std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
};

}  // namespace sdktest
