#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>

#include "app/AppState.h"
#include "tests/app/AppStateFakes.h"

namespace cb {
namespace {

using testing::buildTree;
using ::testing::ElementsAre;
using testing::FakeWorld;
using testing::nodeAt;
using testing::waitFor;

class AppStateScanTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::ensureCoreApplication(); }

    // Starts a scan of `location`, lets it finish with `tree` and waits until it is shown.
    void scanAndFinish(const std::string& location, std::unique_ptr<FileNode> tree,
                       int64_t foldersDenied = 0) {
        state_->scan(location, std::nullopt);
        world_.scanners.back()->finish(std::move(tree), foldersDenied);
        ASSERT_TRUE(
            waitFor([&] { return state_->phase().kind() == AppState::Phase::Kind::ready; }));
    }

    // Files shown by the progress screen, or -1 outside a scan.
    int64_t shownFiles() const {
        return state_->phase().isScanning() ? state_->phase().progress().filesScanned : -1;
    }

    // Lets queued progress reports and results reach the state.
    static void settle() { QTest::qWait(20); }

    FakeWorld world_;
    std::unique_ptr<AppState> state_ = std::make_unique<AppState>(world_.services());
};

TEST_F(AppStateScanTest, FreshStateShowsTheWelcomeScreenAndStartsNothing) {
    const AppState& s = *state_;
    EXPECT_EQ(s.phase().kind(), AppState::Phase::Kind::welcome);
    EXPECT_EQ(s.mode(), AppState::Mode::folder);
    EXPECT_EQ(s.root(), nullptr);
    EXPECT_EQ(s.focus(), nullptr);
    EXPECT_EQ(s.hovered(), nullptr);
    EXPECT_EQ(s.deleteCandidate(), nullptr);
    EXPECT_FALSE(s.errorMessage() || s.fdaPromptForURL() || s.volumeCapacity() ||
                 s.thinResultMessage() || s.rootURL());
    EXPECT_FALSE(s.needsFullDiskAccess() || s.isRefreshing() || s.thinningSnapshots() ||
                 s.confirmThinSnapshots());
    EXPECT_EQ(s.localSnapshotCount(), 0);
    settle();
    EXPECT_TRUE(world_.scanners.empty());
    EXPECT_TRUE(world_.events.empty());
}

TEST_F(AppStateScanTest, OnlyTheSecondOfTwoBackToBackScansReachesTheState) {
    state_->scan("/first", std::nullopt);
    auto first = world_.scanners.back();
    first->waitUntilStarted();
    state_->scan("/second", std::nullopt);
    auto second = world_.scanners.back();
    EXPECT_TRUE(first->cancelled());
    EXPECT_EQ(state_->phase().progress().currentPath, "/second");

    first->report(500, "/first/late");
    second->report(7, "/second/a");
    first->finish(buildTree("/first", {{"big", 1 << 20}}));
    settle();
    EXPECT_EQ(shownFiles(), 7);
    EXPECT_EQ(state_->phase().progress().currentPath, "/second/a");
    EXPECT_EQ(state_->root(), nullptr);

    second->finish(buildTree("/second", {{"x", 10}, {"y/z", 5}}));
    ASSERT_TRUE(waitFor([&] { return state_->root() != nullptr; }));
    EXPECT_EQ(*state_->root()->rootPath(), "/second");
    EXPECT_EQ(state_->focus(), state_->root());
    EXPECT_EQ(state_->phase().kind(), AppState::Phase::Kind::ready);
    ASSERT_THAT(world_.eventNames(), ElementsAre("scan_completed"));
    const sdk::Value::Dictionary& parameters = *world_.events[0].parameters;
    EXPECT_EQ(parameters.at("size_bytes"), sdk::Value(int64_t{15}));
    EXPECT_EQ(parameters.at("children_count"), sdk::Value(int64_t{2}));
    EXPECT_EQ(world_.capacityQueries().back(), "/second");
}

TEST_F(AppStateScanTest, ProgressReportsNeverGoBackwardsAndStopWithTheScan) {
    state_->scan("/data", std::nullopt);
    auto scanner = world_.scanners.back();
    scanner->report(10, "/data/a");
    settle();
    scanner->report(5, "/data/older");  // delivered out of order: dropped
    settle();
    EXPECT_EQ(shownFiles(), 10);
    EXPECT_EQ(state_->phase().progress().currentPath, "/data/a");
    scanner->report(10, "/data/b");  // the same count replaces the shown report
    settle();
    EXPECT_EQ(state_->phase().progress().currentPath, "/data/b");

    scanner->finish(buildTree("/data", {}));
    ASSERT_TRUE(waitFor([&] { return state_->phase().kind() == AppState::Phase::Kind::ready; }));
    scanner->report(99, "/data/after-completion");
    settle();
    EXPECT_EQ(state_->phase().kind(), AppState::Phase::Kind::ready);
    // An empty folder completes with no children.
    EXPECT_EQ(world_.events.back().parameters->at("children_count"), sdk::Value(int64_t{0}));
}

TEST_F(AppStateScanTest, CancelReturnsToWelcomeKeepsTheOldTreeAndLogsNothing) {
    scanAndFinish("/data", buildTree("/data", {{"a", 1}}));
    FileNode* previous = state_->root();
    world_.events.clear();

    state_->refresh();
    auto scanner = world_.scanners.back();
    scanner->waitUntilStarted();
    state_->cancelScan();
    EXPECT_TRUE(scanner->cancelled());
    EXPECT_EQ(state_->phase().kind(), AppState::Phase::Kind::welcome);
    EXPECT_FALSE(state_->isRefreshing());

    scanner->report(3, "/data/late");
    ASSERT_TRUE(waitFor([&] { return scanner->returned(); }));
    settle();
    EXPECT_EQ(state_->phase().kind(), AppState::Phase::Kind::welcome);
    EXPECT_EQ(state_->root(), previous);
    EXPECT_EQ(state_->rootURL(), std::filesystem::path("/data"));
    EXPECT_TRUE(world_.events.empty());
}

TEST_F(AppStateScanTest, RefreshRestoresADeepFocusOrFallsBackToTheRoot) {
    scanAndFinish("/data", buildTree("/data", {{"a/b/c/file", 100}, {"other", 1}}));
    state_->setFocus(nodeAt(*state_->root(), "a/b/c"));
    state_->setHovered(nodeAt(*state_->root(), "other"));

    state_->refresh();
    EXPECT_TRUE(state_->isRefreshing());
    EXPECT_EQ(world_.scanners.back()->waitUntilStarted(), "/data");
    world_.scanners.back()->finish(buildTree("/data", {{"a/b/c/file", 300}}));
    ASSERT_TRUE(waitFor([&] { return !state_->isRefreshing(); }));
    ASSERT_NE(state_->focus(), nullptr);
    EXPECT_EQ(state_->focus()->path(), "/data/a/b/c");
    EXPECT_EQ(state_->focus()->size(), 300);
    EXPECT_EQ(state_->hovered(), nullptr);

    state_->refresh();
    world_.scanners.back()->finish(buildTree("/data", {{"a/other", 5}}));
    ASSERT_TRUE(waitFor([&] { return !state_->isRefreshing(); }));
    EXPECT_EQ(state_->focus(), state_->root());
}

TEST_F(AppStateScanTest, RefreshIsIgnoredWithoutALocationOrWhileRefreshing) {
    state_->refresh();
    EXPECT_TRUE(world_.scanners.empty());
    EXPECT_FALSE(state_->isRefreshing());

    scanAndFinish("/data", buildTree("/data", {}));
    state_->refresh();
    state_->refresh();
    EXPECT_EQ(world_.scanners.size(), 2u);
}

TEST_F(AppStateScanTest, ProtectedLocationWithoutAccessIsHeldForThePrompt) {
    world_.protectedLocation = true;
    world_.fullDiskAccess = false;
    state_->scanEntireMac();
    EXPECT_THAT(world_.eventNames(), ElementsAre("scan_started_entire_mac"));
    ASSERT_TRUE(waitFor([&] { return state_->fdaPromptForURL().has_value(); }));
    EXPECT_EQ(state_->fdaPromptForURL(), std::filesystem::path("/"));
    EXPECT_TRUE(world_.scanners.empty());
    EXPECT_EQ(state_->phase().kind(), AppState::Phase::Kind::welcome);

    const int probes = world_.fullDiskAccessProbes;
    state_->scanAfterAccessPrompt();
    EXPECT_EQ(world_.fullDiskAccessProbes.load(), probes);  // the access is not tested again
    EXPECT_FALSE(state_->fdaPromptForURL().has_value());
    ASSERT_EQ(world_.scanners.size(), 1u);
    EXPECT_EQ(world_.scanners[0]->waitUntilStarted(), "/");

    state_->scanAfterAccessPrompt();  // nothing held any more
    EXPECT_EQ(world_.scanners.size(), 1u);
}

TEST_F(AppStateScanTest, ScanHomeLogsItsEventThenScansTheHomeFolder) {
    state_->scanHome();
    EXPECT_THAT(world_.eventNames(), ElementsAre("scan_started_home"));
    ASSERT_EQ(world_.scanners.size(), 1u);
    EXPECT_EQ(world_.scanners[0]->waitUntilStarted(), QDir::homePath().toStdString());
}

TEST_F(AppStateScanTest, AnOpenDeleteDialogKeepsItsItemAcrossARescanWhileItExists) {
    scanAndFinish("/data", buildTree("/data", {{"a/b/f", 1}, {"c", 2}}));
    state_->setDeleteCandidate(nodeAt(*state_->root(), "a/b"));
    scanAndFinish("/data", buildTree("/data", {{"a/b/f", 1}}));
    ASSERT_NE(state_->deleteCandidate(), nullptr);
    EXPECT_EQ(state_->deleteCandidate(), nodeAt(*state_->root(), "a/b"));

    scanAndFinish("/data", buildTree("/data", {{"c", 2}}));
    EXPECT_EQ(state_->deleteCandidate(), nullptr);
}

TEST_F(AppStateScanTest, AScanOfAnotherRootMovesEveryPointerOutOfTheOldTree) {
    scanAndFinish("/data", buildTree("/data", {{"a/f", 1}, {"b/g", 2}}));
    FileNode* a = nodeAt(*state_->root(), "a");
    state_->setFocus(a);
    state_->setHovered(a);
    state_->setDeleteCandidate(nodeAt(*state_->root(), "b"));
    scanAndFinish("/other", buildTree("/other", {{"a/f", 1}}));
    EXPECT_EQ(*state_->root()->rootPath(), "/other");
    EXPECT_EQ(state_->focus(), state_->root());
    EXPECT_EQ(state_->hovered(), nullptr);
    EXPECT_EQ(state_->deleteCandidate(), nullptr);
}

TEST_F(AppStateScanTest, TheGateLetsOrdinaryLocationsAndGrantedAccessThrough) {
    const struct {
        bool isProtected;
        bool access;
    } cases[] = {{false, false}, {true, true}};
    for (const auto& c : cases) {
        world_.protectedLocation = c.isProtected;
        world_.fullDiskAccess = c.access;
        const size_t before = world_.scanners.size();
        state_->startScan("/somewhere");
        // A protected location is probed off the UI thread first.
        ASSERT_TRUE(waitFor([&] { return world_.scanners.size() == before + 1; }));
        EXPECT_FALSE(state_->fdaPromptForURL().has_value());
    }
}

TEST_F(AppStateScanTest, AnAccessCheckStillUnderWayIsSupersededByALaterScan) {
    world_.protectedLocation = true;
    world_.fullDiskAccess = false;
    state_->startScan("/protected");
    state_->scan("/chosen-later", std::nullopt);
    settle();
    EXPECT_FALSE(state_->fdaPromptForURL().has_value());
    ASSERT_EQ(world_.scanners.size(), 1u);
    EXPECT_EQ(world_.scanners[0]->waitUntilStarted(), "/chosen-later");
}

TEST_F(AppStateScanTest, FullDiskAccessIsSuggestedOnlyForFoldersDeniedWithoutAccess) {
    const struct {
        bool inaccessible;
        int64_t denied;  // of the inaccessible folders, those closed to the walk
        bool access;
        bool expected;
        int probes;
    } cases[] = {
        {false, 0, false, false, 0},
        {true, 1, false, true, 1},
        {true, 1, true, false, 1},
        {true, 0, false, false, 0},  // cut by the depth limit: no access would help
    };
    for (const auto& c : cases) {
        world_.fullDiskAccess = c.access;
        world_.fullDiskAccessProbes = 0;
        auto tree = buildTree("/data", {{"locked/", 0}});
        nodeAt(*tree, "locked")->setInaccessible(c.inaccessible);
        tree->recountInaccessible();
        scanAndFinish("/data", std::move(tree), c.denied);
        EXPECT_EQ(state_->needsFullDiskAccess(), c.expected) << c.denied;
        EXPECT_EQ(world_.fullDiskAccessProbes.load(), c.probes) << c.denied;
        EXPECT_EQ(state_->root()->inaccessibleCount(), c.inaccessible ? 1 : 0);
    }
}

TEST_F(AppStateScanTest, TheHomeFolderIsScannedAtOnceWhileTheVolumeWaitsForAccess) {
    // The real location test with an ordinary user's answer to the access probe.
    world_.fullDiskAccess = false;
    AppServices services = world_.services();
    services.isProtectedLocation = AppServices::system().isProtectedLocation;
    state_ = std::make_unique<AppState>(services);
    const std::string home = QDir::homePath().toStdString();

    for (const std::string& location : {home, home + "/Library/Caches"}) {
        const size_t before = world_.scanners.size();
        state_->startScan(location);
        // No probe and no prompt: the scan has started before startScan() returns.
        ASSERT_EQ(world_.scanners.size(), before + 1) << location;
        EXPECT_EQ(world_.scanners.back()->waitUntilStarted(), location);
        EXPECT_FALSE(state_->fdaPromptForURL().has_value());
    }
    const size_t scans = world_.scanners.size();
    state_->startScan("/");
    ASSERT_TRUE(waitFor([&] { return state_->fdaPromptForURL().has_value(); }));
    EXPECT_EQ(*state_->fdaPromptForURL(), "/");
    EXPECT_EQ(world_.scanners.size(), scans);
    EXPECT_EQ(world_.fullDiskAccessProbes.load(), 1);
}

TEST_F(AppStateScanTest, ChooseFolderScansOnlyAConfirmedChoice) {
    world_.chooserAnswers = {std::nullopt, std::filesystem::path("/picked")};
    state_->chooseFolder();
    EXPECT_TRUE(world_.events.empty());
    EXPECT_TRUE(world_.scanners.empty());

    state_->chooseFolder();
    EXPECT_THAT(world_.eventNames(), ElementsAre("scan_started_folder"));
    ASSERT_EQ(world_.scanners.size(), 1u);
    EXPECT_EQ(world_.scanners[0]->waitUntilStarted(), "/picked");
    ASSERT_EQ(world_.chooserTexts.size(), 2u);
    EXPECT_FALSE(world_.chooserTexts[0].first.empty());
    EXPECT_NE(world_.chooserTexts[0].first, "panel.message");  // looked up, not the key
}

TEST_F(AppStateScanTest, DestroyingTheStateStopsItsScanAndOutlivesItsProgressHandler) {
    state_->scan("/data", std::nullopt);
    auto scanner = world_.scanners.back();
    scanner->waitUntilStarted();
    scanner->report(1, "/data/a");  // queued, never delivered
    state_.reset();
    EXPECT_TRUE(scanner->cancelled());
    // The walk is not waited for (it may hang on a dead mount); cancelled, it ends on its own.
    EXPECT_TRUE(waitFor([&] { return scanner->returned(); }));
    scanner->report(2, "/data/b");  // a late walker report reaches nothing
    settle();
}

TEST_F(AppStateScanTest, EveryWriteOfAPublishedFieldIsSignalled) {
    QSignalSpy focus(state_.get(), &AppState::focusChanged);
    QSignalSpy refreshing(state_.get(), &AppState::isRefreshingChanged);
    QSignalSpy mode(state_.get(), &AppState::modeChanged);
    QSignalSpy error(state_.get(), &AppState::errorMessageChanged);
    for (int i = 0; i < 2; ++i) {  // the second write repeats the value
        state_->setFocus(nullptr);
        state_->setIsRefreshing(false);
        state_->setMode(AppState::Mode::apps);
        state_->setErrorMessage("x");
    }
    EXPECT_EQ(focus.count(), 2);
    EXPECT_EQ(refreshing.count(), 2);
    EXPECT_EQ(mode.count(), 2);
    EXPECT_EQ(error.count(), 2);
}

}  // namespace
}  // namespace cb
