#include "sdk/utilities/VDUAppEnvironmentUtil.h"

#include <gtest/gtest.h>

#include <limits>

#include "sdk/utilities/OperatingSystemVersion.h"

namespace {

using sdk::OperatingSystemVersion;

TEST(OperatingSystemVersionTest, FormatDropsAZeroPatch) {
    EXPECT_EQ(sdk::formatOperatingSystemVersion({14, 0, 0}), "14.0");
    EXPECT_EQ(sdk::formatOperatingSystemVersion({13, 6, 1}), "13.6.1");
    EXPECT_EQ(sdk::formatOperatingSystemVersion({}), "0.0");
}

TEST(OperatingSystemVersionTest, ReadsVersionIdThenFallsBackToTheKernel) {
    struct Case {
        const char* osRelease;
        const char* kernel;
        OperatingSystemVersion expected;
    };
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    const Case cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n", "6.1.0-18-amd64", {12, 0, 0}},
        {"VERSION_ID=22.04\nID=ubuntu", "", {22, 4, 0}},
        {"VERSION_ID='40.1.7'", "", {40, 1, 7}},
        {"NAME=Debian\nPRETTY_NAME=\"trixie/sid\"\n", "6.1.0-18-amd64", {6, 1, 0}},
        {"VERSION_ID=\"rolling\"", "5.15.3", {5, 15, 3}},
        {"", "99999999999999999999.2", {kMax, 2, 0}},
        {"", "", {0, 0, 0}},
    };
    for (const Case& c : cases) {
        const OperatingSystemVersion v = sdk::operatingSystemVersionFrom(c.osRelease, c.kernel);
        EXPECT_EQ(v.majorVersion, c.expected.majorVersion) << c.osRelease << " / " << c.kernel;
        EXPECT_EQ(v.minorVersion, c.expected.minorVersion) << c.osRelease << " / " << c.kernel;
        EXPECT_EQ(v.patchVersion, c.expected.patchVersion) << c.osRelease << " / " << c.kernel;
    }
}

TEST(VDUAppEnvironmentUtilTest, SysctlEntriesAreReadSafely) {
    EXPECT_EQ(VDUAppEnvironmentUtil::getSysctlEntry("kernel.ostype"), "Linux");
    for (const char* name : {"no.such.entry", "", "../../etc/passwd", "kernel..ostype",
                             "/etc/hostname", ".kernel", "kernel.ostype."}) {
        EXPECT_FALSE(VDUAppEnvironmentUtil::getSysctlEntry(name).has_value()) << name;
    }
}

TEST(VDUAppEnvironmentUtilTest, DeviceModelIsComputedOnce) {
    const std::string& first = VDUAppEnvironmentUtil::deviceModel();
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(&first, &VDUAppEnvironmentUtil::deviceModel());
    EXPECT_EQ(&VDUAppEnvironmentUtil::deviceSimulatorModel(),
              &VDUAppEnvironmentUtil::deviceSimulatorModel());
    const std::string version = VDUAppEnvironmentUtil::systemVersion();
    EXPECT_NE(version.find('.'), std::string::npos) << version;
}

TEST(VDUAppEnvironmentUtilTest, FixedAnswersOfThisPlatform) {
    EXPECT_FALSE(VDUAppEnvironmentUtil::isFromAppStore());
    EXPECT_FALSE(VDUAppEnvironmentUtil::isAppStoreReceiptSandbox());
    EXPECT_FALSE(VDUAppEnvironmentUtil::isSimulator());
    EXPECT_FALSE(VDUAppEnvironmentUtil::isAppExtension());
    EXPECT_FALSE(VDUAppEnvironmentUtil::isAppClip());
    EXPECT_TRUE(VDUAppEnvironmentUtil::supportsBackgroundURLSessionUploads());
    EXPECT_EQ(VDUAppEnvironmentUtil::applePlatform(), "macos");
    EXPECT_EQ(VDUAppEnvironmentUtil::appleDevicePlatform(), "macos");
    EXPECT_EQ(VDUAppEnvironmentUtil::deploymentType(), "cmake");
    EXPECT_EQ(VDUNetworkInfo::getNetworkType(), -1);
    EXPECT_EQ(VDUNetworkInfo::getNetworkRadioType(), "");
    VDUAppEnvironmentUtil::TEST_setIsFromAppStore(true);
    EXPECT_TRUE(VDUAppEnvironmentUtil::isFromAppStore());
    VDUAppEnvironmentUtil::TEST_setIsFromAppStore(std::nullopt);
    EXPECT_FALSE(VDUAppEnvironmentUtil::isFromAppStore());
}

}  // namespace
