#include "sdk/measurement/engine/APMExcludeFromBackup.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <cerrno>
#include <fstream>

#include "tests/support/TempDir.h"

namespace {

TEST(APMExcludeFromBackup, MarksTheFileOrReportsWhyNot) {
    cb::testsupport::TempDir dir("cb-backup");
    const auto path = dir / "file";
    std::ofstream(path) << "x";
    sdk::Error error;
    ASSERT_TRUE(APMExcludeFromBackup(path.string(), &error)) << error.ToString();
    char value[16] = {};
    const ssize_t length = getxattr(path.c_str(), "user.xdg.robots.backup", value, sizeof value);
    if (length < 0 && errno == ENOTSUP) {
        GTEST_SKIP() << "no user attributes on this file system";
    }
    EXPECT_EQ(std::string(value, length > 0 ? static_cast<std::size_t>(length) : 0), "false");

    EXPECT_FALSE(APMExcludeFromBackup((dir / "missing").string(), &error));
    EXPECT_EQ(error.domain(), kAPMPOSIXErrorDomain);
    EXPECT_EQ(error.code(), ENOENT);
    EXPECT_NE(error.message().find("missing"), std::string::npos);
}

}  // namespace
