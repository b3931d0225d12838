#include "sdk/measurement/engine/APMEventNames.h"

#include <gtest/gtest.h>

#include "sdk/measurement/engine/APMLibraryVersion.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

TEST(APMEventNamesTest, PublicNamesMapToTheirInternalNames) {
    const auto& map = APMPublicEventNameMap();
    EXPECT_EQ(map.size(), 32u);
    EXPECT_EQ(map.at("ad_impression"), "_ai");
    EXPECT_EQ(map.at("razudizo_campaign"), "_cmp");
    EXPECT_EQ(map.at("ma_campaign"), "_cmp");
    EXPECT_EQ(map.at("error"), "_err");
    EXPECT_EQ(map.count("level_up"), 0u);
}

TEST(APMEventNamesTest, PublicNamesDoNotBeginWithAnUnderscore) {
    sdktest::MonitorRecorder monitor;
    EXPECT_TRUE(APMIsPublicName("level_up"));
    EXPECT_FALSE(APMIsPublicName("_e"));
    EXPECT_FALSE(monitor.saw(18003));
    EXPECT_FALSE(APMIsPublicName(""));
    EXPECT_TRUE(monitor.saw(18003));
}

TEST(APMLibraryVersionTest, LibraryVersionDropsTheLastThreeCharacters) {
    EXPECT_EQ(APMLibraryVersion(), 111500);
    EXPECT_EQ(APMLibraryVersionFromString("10000000"), 10000);
    EXPECT_EQ(APMLibraryVersionFromString("1234"), 1);
    EXPECT_EQ(APMLibraryVersionFromString("123"), 0);
    EXPECT_EQ(APMLibraryVersionFromString("x1234"), 0);
}

}  // namespace
