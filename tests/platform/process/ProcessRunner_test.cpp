#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process/PrivilegedRunner.h"
#include "platform/process/ProcessRunner.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using platform::OutputStreams;
using platform::ProcessRunner;

namespace {

using cb::testsupport::TempDir;

// Writes an executable shell script.
std::string writeTool(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
}

TEST(ProcessRunnerTest, CombinedStreamsArriveInOneText) {
    auto result = ProcessRunner::shared().run("/bin/sh", {"-c", "echo out; echo err >&2; exit 3"});
    ASSERT_TRUE(result.launched);
    EXPECT_EQ(result.output, "out\nerr\n");
    EXPECT_EQ(result.errorOutput, "");
    EXPECT_EQ(result.exitStatus, 3);
}

TEST(ProcessRunnerTest, SeparateStreamsAreBothReadToTheEndWithoutBlocking) {
    // More than a pipe buffer on each stream: reading only one would stall the child forever.
    auto result = ProcessRunner::shared().run(
        "/bin/sh", {"-c", "head -c 300000 /dev/zero | tr '\\0' a; head -c 300000 /dev/zero >&2"},
        OutputStreams::separate);
    ASSERT_TRUE(result.launched);
    EXPECT_EQ(result.output, std::string(300000, 'a'));
    EXPECT_EQ(result.errorOutput, std::string(300000, '\0'));
    EXPECT_EQ(result.exitStatus, 0);
}

TEST(ProcessRunnerTest, ArgumentsReachTheChildUnchangedAndStdinIsEmpty) {
    const std::string odd = "a b'c\"d$(x)`y`\\\n";
    auto result =
        ProcessRunner::shared().run("/bin/sh", {"-c", "cat; printf %s \"$1\"", "sh", odd});
    EXPECT_EQ(result.output, odd);
}

TEST(ProcessRunnerTest, MissingOrNonExecutableToolIsALaunchFailureWithTheSystemReason) {
    TempDir dir;
    std::ofstream(dir.path() / "plain") << "data";
    struct Case {
        std::string path;
        std::string reason;
    } cases[] = {{(dir.path() / "absent").string(), "No such file or directory"},
                 {(dir.path() / "plain").string(), "Permission denied"}};
    for (const Case& c : cases) {
        auto result = ProcessRunner::shared().run(c.path, {});
        EXPECT_FALSE(result.launched) << c.path;
        if (::geteuid() != 0 || c.reason != "Permission denied") {
            EXPECT_EQ(result.launchError, c.reason) << c.path;
        } else {
            EXPECT_FALSE(result.launchError.empty());
        }
        EXPECT_EQ(result.output, "");
    }
}

TEST(ProcessRunnerTest, Utf8OrEmptyKeepsValidTextOnly) {
    struct Case {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ascii\n", true},
        {"\xC3\xA9\xE2\x80\xA2\xF0\x9F\x98\x80", true},  // é • 😀
        {"\xC3", false},                                 // cut short
        {"\xC0\xAF", false},                             // overlong
        {"\xED\xA0\x80", false},                         // surrogate
        {"\xF4\x90\x80\x80", false},                     // beyond U+10FFFF
        {"ok\xFF", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::utf8OrEmpty(c.bytes), c.valid ? c.bytes : "") << c.bytes;
    }
}

TEST(ProcessRunnerTest, ConcurrentRunsKeepTheirOwnOutput) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 10; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                auto result = ProcessRunner::shared().run("/bin/echo", {tag});
                if (result.output != tag + "\n")
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(PrivilegedRunnerTest, RunsTheScriptAsOneArgumentOfShDashC) {
    TempDir dir;
    std::string launcher = writeTool(dir.path() / "as-user", "exec \"$@\"\n");
    platform::PrivilegedRunner runner(launcher);
    auto result = runner.runShellScript("echo \"it's\" >&2; echo out; exit 1");
    ASSERT_TRUE(result.launched);
    EXPECT_EQ(result.errorOutput, "it's\n");
    EXPECT_EQ(result.output, "out\n");
    EXPECT_EQ(result.exitStatus, 1);
}

TEST(PrivilegedRunnerTest, ADismissedDialogReadsAsCancelledAndImpossibleAuthorisationAsAFailure) {
    TempDir dir;
    struct Case {
        int status;
        std::string said;
        std::string errorOutput;
    } cases[] = {
        {126, "echo 'Error executing command' >&2",
         "Error executing command\nAuthentication cancelled."},
        {127,
         "printf '\\n  Error executing command as another user: Not authorized\\n\\nThis incident "
         "has been reported.\\n' >&2",
         "authorisation is not possible: Error executing command as another user: Not authorized"},
        {127, "true", "authorisation is not possible"},
    };
    for (const Case& c : cases) {
        std::string launcher = writeTool(dir.path() / ("refuse" + std::to_string(c.status)),
                                         c.said + "; exit " + std::to_string(c.status) + "\n");
        auto result = platform::PrivilegedRunner(launcher).runShellScript("exit 0");
        EXPECT_EQ(result.errorOutput, c.errorOutput) << c.status;
    }
}

TEST(PrivilegedRunnerTest, MissingLauncherIsALaunchFailure) {
    auto result = platform::PrivilegedRunner("/nonexistent/pkexec").runShellScript("exit 0");
    EXPECT_FALSE(result.launched);
    EXPECT_EQ(result.launchError, "No such file or directory");
}

}  // namespace
