#include "sdk/utilities/VDUAppEnvironmentUtil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <vector>

#include "sdk/utilities/ExecutableEncryption.h"
#include "sdk/utilities/OperatingSystemVersion.h"
#include "tests/support/TempDir.h"

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

// A small Mach-O image: a header of the given width and file type, then the given load
// commands, each as its 32-bit words (command, size, then the body).
std::vector<unsigned char> machO(bool wide, std::uint32_t fileType,
                                 const std::vector<std::vector<std::uint32_t>>& commands) {
    std::vector<std::uint32_t> words = {wide ? 0xfeedfacfu : 0xfeedfaceu,
                                        0x0100000c,
                                        0,
                                        fileType,
                                        static_cast<std::uint32_t>(commands.size()),
                                        0,
                                        0};
    if (wide) {
        words.push_back(0);  // reserved
    }
    for (const auto& command : commands) {
        words.insert(words.end(), command.begin(), command.end());
    }
    std::vector<unsigned char> bytes(words.size() * 4);
    std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

TEST(ExecutableEncryptionTest, ReadsTheCryptIdOfTheEncryptionCommand) {
    // Encryption info: command, size 20 (24 for the 64-bit one), offset, size, crypt id.
    const std::vector<std::uint32_t> segment = {0x19, 16, 0, 0};
    const std::vector<std::uint32_t> encrypted64 = {0x2C, 24, 0x4000, 0x1000, 1, 0};
    const std::vector<std::uint32_t> clear64 = {0x2C, 24, 0x4000, 0x1000, 0, 0};
    const std::vector<std::uint32_t> encrypted32 = {0x21, 20, 0x4000, 0x1000, 1};
    struct Case {
        const char* name;
        std::vector<unsigned char> image;
        bool encrypted;
    };
    std::vector<Case> cases = {
        {"64-bit, crypt id 1 after another command", machO(true, 2, {segment, encrypted64}), true},
        {"64-bit, crypt id 0", machO(true, 2, {clear64}), false},
        {"32-bit, crypt id 1", machO(false, 2, {encrypted32}), true},
        {"64-bit header with the 32-bit command", machO(true, 2, {encrypted32}), false},
        {"32-bit header with the 64-bit command", machO(false, 2, {encrypted64}), false},
        {"a library, not an executable", machO(true, 6, {encrypted64}), false},
        {"no commands", machO(true, 2, {}), false},
        {"ELF", {0x7f, 'E', 'L', 'F', 2, 1, 1, 0}, false},
        {"empty", {}, false},
    };
    // A command that claims more bytes than there are, and one smaller than its header.
    std::vector<unsigned char> overlong = machO(true, 2, {{0x2C, 4096, 0, 0, 1, 0}});
    cases.push_back({"command past the end", overlong, false});
    cases.push_back({"command of size 0", machO(true, 2, {{0x19, 0}, encrypted64}), false});
    // More commands announced than present: the walk stops at the end of the bytes.
    std::vector<unsigned char> counted = machO(true, 2, {segment});
    counted[16] = 0xff;
    counted[17] = 0xff;
    cases.push_back({"command count beyond the bytes", counted, false});

    cb::testsupport::TempDir dir;
    for (const Case& c : cases) {
        EXPECT_EQ(sdk::imageIsEncrypted(c.image), c.encrypted) << c.name;
        const auto file = dir / "executable";
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(c.image.data()),
                   static_cast<std::streamsize>(c.image.size()));
        EXPECT_EQ(sdk::executableIsEncrypted(file.string()), c.encrypted) << c.name;
    }
    EXPECT_FALSE(sdk::executableIsEncrypted((dir / "missing").string()));
    // This test program is an ELF executable: no encryption information.
    EXPECT_FALSE(sdk::executableIsEncrypted("/proc/self/exe"));
}

TEST(VDUAppEnvironmentUtilTest, FixedAnswersOfThisPlatform) {
    EXPECT_FALSE(VDUAppEnvironmentUtil::isFromAppStore());  // from this ELF executable
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
