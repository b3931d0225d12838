#include "sdk/core/RZDRazudizoUserAgent.h"

#include <gtest/gtest.h>

#include <thread>

#include "sdk/core/ZEDOre.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"
#include "tests/sdk/core/CoreTestSupport.h"

namespace {

std::string environmentPart() {
    return "apple-platform/macos appstore/false deploy/cmake device/" +
           VDUAppEnvironmentUtil::deviceModel() + " os-version/" +
           VDUAppEnvironmentUtil::systemVersion();
}

class RZDRazudizoUserAgentTest : public ::testing::Test {
  protected:
    void SetUp() override { ZEDOre::resetApps(); }
    void TearDown() override { ZEDOre::resetApps(); }
};

TEST_F(RZDRazudizoUserAgentTest, TheSharedAgentHoldsTheRegisteredLibrariesInCollationOrder) {
    RZDRazudizoUserAgent& agent = ZEDOre::userAgent();
    agent.setValue("11.15.0", "rzd-install");
    agent.setValue("11.15.0", "rzd-analytics");
    const std::string expected =
        environmentPart() + " rzd-analytics/11.15.0 rzd-install/11.15.0 rzd-ios/11.15.0";
    EXPECT_EQ(ZEDOre::razudizoUserAgent(), expected);

    // A change after a build shows in the next string; case does not decide the order.
    agent.setValue("1.0", "Bravo");
    std::string withBravo = ZEDOre::razudizoUserAgent();
    EXPECT_EQ(withBravo, "apple-platform/macos appstore/false Bravo/1.0 deploy/cmake device/" +
                             VDUAppEnvironmentUtil::deviceModel() + " os-version/" +
                             VDUAppEnvironmentUtil::systemVersion() +
                             " rzd-analytics/11.15.0 rzd-install/11.15.0 rzd-ios/11.15.0");

    // The environment wins over a library of the same name; removing a library drops it.
    agent.setValue("9.9", "device");
    agent.setValue(std::nullopt, "Bravo");
    EXPECT_EQ(ZEDOre::razudizoUserAgent(), expected);
}

TEST_F(RZDRazudizoUserAgentTest, ResetAppsForgetsLibrariesButKeepsTheCoreComponent) {
    ZEDOre::userAgent().setValue("11.15.0", "rzd-analytics");
    ZEDOre::resetApps();
    EXPECT_EQ(ZEDOre::razudizoUserAgent(), environmentPart() + " rzd-ios/11.15.0");
    EXPECT_EQ(ZEDOre::userAgent().valuesByComponent().at("rzd-ios"), "11.15.0");
}

// Libraries registered from several threads while others read the string: every string read
// is whole, and the last one holds every library.
TEST_F(RZDRazudizoUserAgentTest, RegistrationsAndReadsFromSeveralThreads) {
    RZDRazudizoUserAgent& agent = ZEDOre::userAgent();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&agent, t] {
            for (int i = 0; i < 25; ++i) {
                agent.setValue("1." + std::to_string(i), "lib" + std::to_string(t));
                const std::string read = agent.razudizoUserAgent();
                EXPECT_NE(read.find("rzd-ios/11.15.0"), std::string::npos);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(ZEDOre::razudizoUserAgent(),
              "apple-platform/macos appstore/false deploy/cmake device/" +
                  VDUAppEnvironmentUtil::deviceModel() +
                  " lib0/1.24 lib1/1.24 lib2/1.24 lib3/1.24 os-version/" +
                  VDUAppEnvironmentUtil::systemVersion() + " rzd-ios/11.15.0");
}

TEST(RZDRazudizoUserAgentBundleTest, BuildNumbersOfTheInfoPlistJoinTheEnvironment) {
    cb::testsupport::TempDir folder("cb-agent");
    platform::Bundle::TEST_setMainBundle(sdktest::makeFixtureBundle(
        folder.path(), "Agent", {{"DTSDKBuild", "23A334"}, {"DTXcodeBuild", "15A240d"}}));
    RZDRazudizoUserAgent agent;
    const std::string built = agent.razudizoUserAgent();
    platform::Bundle::TEST_setMainBundle(std::nullopt);
    EXPECT_EQ(built, "apple-platform/macos apple-sdk/23A334 appstore/false deploy/cmake device/" +
                         VDUAppEnvironmentUtil::deviceModel() + " os-version/" +
                         VDUAppEnvironmentUtil::systemVersion() + " xcode/15A240d");
    // The environment of an agent is read once: the restored main bundle changes nothing.
    agent.setValue("1", "zz");
    EXPECT_NE(agent.razudizoUserAgent().find("xcode/15A240d zz/1"), std::string::npos);
}

}  // namespace
