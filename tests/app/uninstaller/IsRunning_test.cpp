#include <gtest/gtest.h>

#include <csignal>

#include "app/uninstaller/AppDiscovery.h"
#include "app/uninstaller/IdentifierText.h"
#include "app/uninstaller/InstalledApp.h"
#include "tests/app/uninstaller/AppFixtures.h"
#include "tests/support/BundledProcess.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace ts = cb::testsupport;

// Reports a fixed list of running applications.
class ListedWorkspace : public platform::Workspace {
  public:
    explicit ListedWorkspace(std::vector<platform::RunningApplication> running)
        : running_(std::move(running)) {}
    std::vector<platform::RunningApplication> runningApplications() override { return running_; }

  private:
    std::vector<platform::RunningApplication> running_;
};

TEST(IsRunningTest, MatchesIdentifiersExactlyUpToCanonicalEquivalence) {
    struct Case {
        const char* bundleID;
        std::vector<platform::RunningApplication> running;
        bool expected;
    };
    const std::string precomposed = "com.example.caf\xC3\xA9";  // é
    const std::string decomposed = "com.example.cafe\xCC\x81";  // e + combining acute
    const Case cases[] = {
        {"com.example.notes", {}, false},
        {"com.example.notes", {{10, std::nullopt}, {11, "com.example.notes"}}, true},
        {"com.example.notes", {{10, "COM.EXAMPLE.NOTES"}, {11, "com.example.note"}}, false},
        {"com.example.notes", {{10, std::nullopt}, {11, std::nullopt}}, false},
        {precomposed.c_str(), {{12, decomposed}}, true},
        {decomposed.c_str(), {{12, precomposed}}, true},
        {precomposed.c_str(), {{12, "com.example.cafe"}}, false},
    };
    for (const Case& c : cases) {
        ListedWorkspace workspace(c.running);
        std::shared_ptr<InstalledApp> app = InstalledApp::make(
            {"/Applications/X.app", "X", c.bundleID, std::nullopt, std::nullopt, QImage()});
        EXPECT_EQ(app->isRunning(workspace), c.expected) << c.bundleID;
    }
}

TEST(IsRunningTest, InvalidUtf8StaysItselfWhenMadeCanonical) {
    const std::string invalid = "com.example.\xFF";
    EXPECT_EQ(canonicalIdentifier(invalid), invalid);
    EXPECT_FALSE(sameIdentifier(invalid, "com.example.\xEF\xBF\xBD"));  // U+FFFD
}

TEST(IsRunningTest, ARealProcessRunsUntilTerminated) {
    ts::TempDir dir;
    ts::BundledProcess process(dir.path(), "Fixture.app", "com.example.fixture", "fixture");
    std::shared_ptr<InstalledApp> app = makeInstalledApp(process.bundlePath());
    ASSERT_NE(app, nullptr);
    std::shared_ptr<InstalledApp> shouting =
        makeInstalledApp(ts::makeAppBundle(dir / "Shouting.app", "COM.EXAMPLE.FIXTURE"));
    ASSERT_NE(shouting, nullptr);

    const auto running = platform::Workspace::shared().runningApplications();
    EXPECT_NE(std::find(running.begin(), running.end(),
                        platform::RunningApplication{process.pid(), "com.example.fixture"}),
              running.end());
    EXPECT_TRUE(app->isRunning());
    EXPECT_FALSE(shouting->isRunning());

    platform::Workspace::shared().terminate(process.pid());
    EXPECT_EQ(process.wait(), SIGTERM);
    EXPECT_FALSE(app->isRunning());
}

}  // namespace
}  // namespace cb
