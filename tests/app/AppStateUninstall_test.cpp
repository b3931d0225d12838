#include <gtest/gtest.h>

#include <QSignalSpy>
#include <algorithm>
#include <cerrno>

#include "app/AppState.h"
#include "app/UninstallOutcome.h"
#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/AppDiscovery.h"
#include "app/uninstaller/AppLocations.h"
#include "tests/app/AppStateFakes.h"
#include "tests/app/uninstaller/AppFixtures.h"
#include "tests/support/BundledProcess.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
using testing::FakeApps;
using testing::FakeWorld;
using testing::waitFor;
using Paths = std::vector<fs::path>;

// Runs the whole test program in English, with its preferences in a temporary folder.
class EnglishEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
        testing::ensureCoreApplication();
        LocalizationManager::shared().setCurrent(Language::english);
    }

  private:
    testsupport::TempDir config_{"cb-xdg-config"};
};

[[maybe_unused]] ::testing::Environment* const kEnglish =
    ::testing::AddGlobalTestEnvironment(new EnglishEnvironment);

RelatedFile related(const fs::path& url, int64_t size = 1000) {
    return {QUuid::createUuid(), url, RelatedCategory::caches, size, false};
}

std::vector<fs::path> urlsOf(const std::vector<RelatedFile>& files) {
    std::vector<fs::path> urls;
    for (const RelatedFile& file : files) {
        urls.push_back(file.url);
    }
    return urls;
}

// A state with "banana" (two other applications around it) whose related files are `files`.
class AppStateUninstallTest : public ::testing::Test {
  protected:
    AppStateUninstallTest() { testing::ensureCoreApplication(); }

    void listBanana(const std::vector<RelatedFile>& files) {
        banana_->setRelated(files);
        banana_->setRelatedLoaded(true);
        state_->setApps({apple_, banana_, cherry_});
    }

    // Confirms `urls` for banana; the double answers with `result`. Returns once the outcome
    // is applied.
    void uninstall(const Paths& urls, TrashBatchResult result) {
        world_.apps.trashAnswer = [result](const Paths&) { return result; };
        const size_t before = world_.apps.batches().size();
        applied_ = false;
        state_->setUninstallCandidate(banana_);
        state_->startUninstall(urls);
        ASSERT_EQ(state_->uninstallCandidate(), nullptr);
        ASSERT_TRUE(waitFor([&] { return applied_; }));
        ASSERT_EQ(world_.apps.batches().size(), before + 1);
        ASSERT_EQ(world_.apps.batches().back(), urls);
    }

    FakeWorld world_;
    std::unique_ptr<AppState> state_ = std::make_unique<AppState>(world_.services());
    std::shared_ptr<InstalledApp> apple_ = FakeApps::makeApp("apple");
    std::shared_ptr<InstalledApp> banana_ = FakeApps::makeApp("banana");
    std::shared_ptr<InstalledApp> cherry_ = FakeApps::makeApp("cherry");
    // Raised by every change an outcome makes (each uninstall here moves or fails something).
    bool applied_ = false;

    void SetUp() override {
        for (auto signal : {&AppState::changed, &AppState::appsChanged,
                            &AppState::errorMessageChanged, &AppState::permissionPromptChanged}) {
            QObject::connect(state_.get(), signal, [this] { applied_ = true; });
        }
    }
};

TEST_F(AppStateUninstallTest, EverythingMovedRemovesTheApplicationAndLogsOnce) {
    const std::vector<RelatedFile> files = {related("/h/Library/Caches/banana")};
    listBanana(files);
    uninstall({banana_->url(), files[0].url}, {{banana_->url(), files[0].url}, {}});
    EXPECT_TRUE(banana_->related().empty());
    ASSERT_EQ(state_->apps().size(), 2u);
    EXPECT_EQ(state_->apps()[0], apple_);
    EXPECT_EQ(state_->apps()[1], cherry_);
    ASSERT_EQ(world_.eventNames(), std::vector<std::string>{"app_uninstalled"});
    EXPECT_EQ(
        world_.events[0].parameters,
        (sdk::Value::Dictionary{{"bundle_id", sdk::Value(std::string("com.example.banana"))}}));
    EXPECT_FALSE(state_->errorMessage());
    EXPECT_FALSE(state_->permissionPrompt());
}

TEST_F(AppStateUninstallTest, AFailedBundleKeepsTheApplicationAndLogsNothing) {
    const std::vector<RelatedFile> files = {related("/h/L/a"), related("/h/L/b"),
                                            related("/h/L/c")};
    listBanana(files);
    uninstall({banana_->url(), files[0].url, files[2].url},
              {{files[0].url, files[2].url}, {{banana_->url(), "busy"}}});
    EXPECT_EQ(urlsOf(banana_->related()), Paths{"/h/L/b"});
    EXPECT_EQ(state_->apps().size(), 3u);
    EXPECT_TRUE(world_.events.empty());
    EXPECT_EQ(state_->errorMessage(), "Deleted: 2. Failed: 1.\n\n\xE2\x80\xA2 banana.app: busy");
}

TEST_F(AppStateUninstallTest, FailuresWithoutAPermissionReasonEndInTheSummary) {
    const std::vector<RelatedFile> files = {related("/h/L/a"), related("/h/L/b"),
                                            related("/h/L/gone")};
    listBanana(files);
    uninstall({banana_->url(), files[0].url, files[1].url, files[2].url},
              {{banana_->url(), files[0].url, files[1].url}, {{files[2].url, "file not found"}}});
    EXPECT_EQ(state_->errorMessage(),
              "Deleted: 3. Failed: 1.\n\n\xE2\x80\xA2 gone: file not found");
    EXPECT_FALSE(state_->permissionPrompt());
    EXPECT_EQ(urlsOf(banana_->related()), Paths{"/h/L/gone"});
}

TEST_F(AppStateUninstallTest, PermissionFailuresBecomeAPromptWithTheirPermissions) {
    testsupport::TempDir dir;
    const fs::path home = dir.path() / "home";
    const fs::path machineLibrary = dir.path() / "machine" / "Library";
    testsupport::ScopedEnv homeEnv("HOME", home.string());
    const AppLocations old = AppLocations::TEST_setCurrent({"/Applications", machineLibrary});
    struct Case {
        Paths refused;
        bool appManagement;
        bool fullDiskAccess;
    };
    const Case cases[] = {
        {{machineLibrary / "Caches/banana", home / "Library/Caches/banana"}, false, true},
        {{"/opt/banana/data"}, false, false},
        {{"/Applications/banana.app"}, true, false},
        // Whole components: neither is inside /Applications or the home Library.
        {{"/ApplicationsX/banana.app", home / "LibraryX/banana"}, false, false},
        {{"/private/tmp/banana", "/var/db/banana"}, false, true},
    };
    for (const Case& c : cases) {
        std::vector<RelatedFile> files;
        TrashBatchResult result;
        for (const fs::path& path : c.refused) {
            files.push_back(related(path));
            // A refusal reads as one in words, or, in another language, by its error number.
            result.failed.push_back(files.size() % 2 == 1
                                        ? TrashFailure{path, "Operation not permitted"}
                                        : TrashFailure{path, "Отказано в доступе", EACCES});
        }
        files.push_back(related(dir.path() / "other"));
        result.succeeded.push_back(files.back().url);
        result.failed.push_back({dir.path() / "gone", "file not found"});
        listBanana(files);
        Paths urls = urlsOf(files);
        urls.push_back(dir.path() / "gone");
        state_->setErrorMessage(std::nullopt);
        state_->setPermissionPrompt(std::nullopt);
        uninstall(urls, result);
        const auto& prompt = state_->permissionPrompt();
        ASSERT_TRUE(prompt) << c.refused[0];
        EXPECT_EQ(prompt->needsAppManagement, c.appManagement) << c.refused[0];
        EXPECT_EQ(prompt->needsFullDiskAccess, c.fullDiskAccess) << c.refused[0];
        std::vector<std::string> expectedPaths;
        for (const fs::path& path : c.refused) {
            expectedPaths.push_back(path.string());
        }
        EXPECT_EQ(prompt->failedPaths, expectedPaths);
        EXPECT_EQ(prompt->succeededCount, 1);
        EXPECT_FALSE(state_->errorMessage());  // the other failure is not reported apart
    }
    AppLocations::TEST_setCurrent(old);
}

TEST(UninstallOutcomeTest, PermissionReasonsAndFolders) {
    EXPECT_TRUE(isPermissionFailure("Operation not permitted"));
    EXPECT_TRUE(isPermissionFailure("PERMISSION denied"));
    EXPECT_TRUE(isPermissionFailure("Not Permitted here"));
    EXPECT_FALSE(isPermissionFailure("file not found"));
    EXPECT_FALSE(isPermissionFailure("permitted"));
    EXPECT_TRUE(isPermissionFailure(TrashFailure{"/a", "Отказано в доступе", EACCES}));
    EXPECT_TRUE(isPermissionFailure(TrashFailure{"/a", "Die Operation ist nicht erlaubt", EPERM}));
    EXPECT_TRUE(isPermissionFailure(TrashFailure{"/a", "Permission denied", 0}));
    EXPECT_FALSE(isPermissionFailure(TrashFailure{"/a", "设备上没有空间", ENOSPC}));
    EXPECT_TRUE(isUnderFolder("/Applications", "/Applications"));
    EXPECT_TRUE(isUnderFolder("/Applications/a.app", "/Applications/"));
    EXPECT_TRUE(isUnderFolder("/Applications/./a.app", "/Applications"));
    EXPECT_FALSE(isUnderFolder("/ApplicationsX", "/Applications"));
    EXPECT_FALSE(isUnderFolder("/Applications/../etc", "/Applications"));
    EXPECT_FALSE(isUnderFolder("/anything", ""));
}

// The gate before the move, on a real running application: nothing happens while it runs or
// before its search delivered; the dialog (the candidate) stays.
TEST_F(AppStateUninstallTest, StartUninstallWaitsForTheSearchAndAQuitApplication) {
    testsupport::TempDir dir;
    state_->startUninstall({"/x"});  // no candidate: nothing
    auto process = std::make_unique<testsupport::BundledProcess>(dir.path(), "Runner.app",
                                                                 "com.example.runner", "runner");
    std::shared_ptr<InstalledApp> runner = makeInstalledApp(process->bundlePath());
    ASSERT_NE(runner, nullptr);
    state_->setApps({runner});
    state_->setUninstallCandidate(runner);
    state_->startUninstall({runner->url()});  // the search has not delivered
    EXPECT_EQ(state_->uninstallCandidate(), runner);
    runner->setRelatedLoaded(true);
    state_->startUninstall({runner->url()});  // it runs
    EXPECT_EQ(state_->uninstallCandidate(), runner);
    QCoreApplication::processEvents();
    EXPECT_TRUE(world_.apps.batches().empty());

    process.reset();  // killed and reaped
    state_->startUninstall({runner->url()});
    EXPECT_EQ(state_->uninstallCandidate(), nullptr);
    ASSERT_TRUE(waitFor([&] { return state_->apps().empty(); }));
    EXPECT_EQ(world_.apps.batches(), std::vector<Paths>{{runner->url()}});
}

}  // namespace
}  // namespace cb
