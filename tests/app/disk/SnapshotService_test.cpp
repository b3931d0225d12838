#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/disk/SnapshotService.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using cb::SnapshotService;

namespace {

std::vector<std::string> names(const std::vector<SnapshotService::Snapshot>& snapshots) {
    std::vector<std::string> result;
    for (const auto& snapshot : snapshots)
        result.push_back(snapshot.name);
    return result;
}

TEST(SnapshotServiceTest, ListingKeepsOnlyTrimmedSnapshotLinesInOutputOrder) {
    struct Case {
        const char* label;
        std::string output;
        std::vector<std::string> expected;
    } cases[] = {
        {"heading and padded lines",
         "Snapshots for disk /:\n  com.apple.TimeMachine.2024-05-02-101500.local \t\n"
         "\tcom.apple.TimeMachine.2024-05-01-090000.local\n",
         {"com.apple.TimeMachine.2024-05-02-101500.local",
          "com.apple.TimeMachine.2024-05-01-090000.local"}},
        {"empty", "", {}},
        {"heading only", "Snapshots for disk /:\n", {}},
        {"embedded prefix", "x com.apple.TimeMachine.a\nsnap-com.apple.TimeMachine.b\n", {}},
        {"wrong case", "COM.APPLE.TimeMachine.a\ncom.apple.timemachine.b\n", {}},
        {"error text", "listlocalsnapshots: permission denied\n", {}},
        {"unicode spaces, no final line feed, blank lines",
         "\n\n\xC2\xA0\xE2\x80\x83"
         "com.apple.TimeMachine.x\xE3\x80\x80",
         {"com.apple.TimeMachine.x"}},
        {"line break is not trimmed into the name",
         "com.apple.TimeMachine.a\r\n",
         {"com.apple.TimeMachine.a\r"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(names(SnapshotService::parseSnapshotList(c.output)), c.expected) << c.label;
    }
}

// A fake snapshot tool that records its arguments, one per line, and prints `output`.
class FakeToolTest : public ::testing::Test {
  protected:
    cb::testsupport::TempDir dir_{"cb-snapshots"};
    fs::path tool_ = dir_ / "tmutil";
    fs::path arguments_ = dir_ / "arguments";

    void writeTool(const std::string& output) {
        cb::testsupport::writeText(tool_, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" +
                                              arguments_.string() + "'\nprintf '" + output +
                                              "'\necho 'a warning' >&2\n");
        fs::permissions(tool_, fs::perms::owner_all);
    }

    std::string recordedArguments() const {
        std::ifstream in(arguments_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(FakeToolTest, ListRunsTheToolOnTheMountPoint) {
    writeTool("Snapshots for disk /:\\ncom.apple.TimeMachine.one\\n");
    auto snapshots = SnapshotService::listLocalSnapshots("/", tool_.string());
    EXPECT_EQ(snapshots, std::vector<SnapshotService::Snapshot>{{"com.apple.TimeMachine.one"}});
    EXPECT_EQ(recordedArguments(), "listlocalsnapshots\n/\n");
}

TEST_F(FakeToolTest, ThinningPassesExactlyFourArgumentsAndReturnsBothStreams) {
    writeTool("Thinned local snapshots:\\n");
    const std::string output =
        SnapshotService::thinLocalSnapshots(536870912000, "/", 4, tool_.string());
    EXPECT_EQ(recordedArguments(), "thinlocalsnapshots\n/\n536870912000\n4\n");
    EXPECT_EQ(output, "Thinned local snapshots:\na warning\n");
}

TEST_F(FakeToolTest, MissingToolOrUndecodableOutputGivesNothing) {
    EXPECT_EQ(SnapshotService::run((dir_ / "absent").string(), {}), "");
    EXPECT_TRUE(SnapshotService::listLocalSnapshots("/", (dir_ / "absent").string()).empty());
    EXPECT_EQ(SnapshotService::thinLocalSnapshots(1, "/", 4, (dir_ / "absent").string()), "");
    writeTool("com.apple.TimeMachine.a\\n\\377\\n");
    EXPECT_TRUE(SnapshotService::listLocalSnapshots("/", tool_.string()).empty());
}

TEST(SnapshotServiceTest, WithoutTheSystemToolTheListIsEmpty) {
    if (fs::exists(SnapshotService::kToolPath))
        GTEST_SKIP() << "this system has the tool";
    EXPECT_TRUE(SnapshotService::listLocalSnapshots("/").empty());
}

}  // namespace
