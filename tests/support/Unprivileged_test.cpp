#include "tests/support/Unprivileged.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

namespace cb::testsupport {
namespace {

TEST(UnprivilegedTest, ChildRunsAsAnOrdinaryUserAndReturnsItsText) {
    const ChildResult result = runUnprivileged([] { return std::to_string(::geteuid()); });
    EXPECT_EQ(result.exitCode, 0) << result.output;
    if (::geteuid() == 0) {
        EXPECT_EQ(result.output, "65534");
    } else {
        EXPECT_EQ(result.output, std::to_string(::geteuid()));
    }
}

TEST(UnprivilegedTest, ExceptionInTheChildEndsTheChildWithItsMessage) {
    // An escaping exception must not unwind into the test framework of the forked copy, which
    // would then run the rest of the suite a second time.
    const ChildResult result =
        runUnprivileged([]() -> std::string { throw std::runtime_error("fixture refused"); });
    EXPECT_EQ(result.exitCode, 4);
    EXPECT_NE(result.output.find("fixture refused"), std::string::npos) << result.output;
}

}  // namespace
}  // namespace cb::testsupport
