#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>

#include "app/AppState.h"
#include "tests/app/AppStateFakes.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
using testing::buildTree;
using ::testing::ElementsAre;
using testing::FakeWorld;
using testing::nodeAt;
using testing::waitFor;

void writeFile(const fs::path& path, size_t bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

// A move to the Trash that succeeds, but only once the test lets the item's path go.
class GatedRecycle {
  public:
    RecycleOutcome operator()(const fs::path& path) {
        std::unique_lock lock(mutex_);
        started_.insert(path.string());
        changed_.notify_all();
        changed_.wait(lock, [&] { return !held_.contains(path.string()); });
        return std::nullopt;
    }
    void hold(const std::string& path) {
        std::lock_guard lock(mutex_);
        held_.insert(path);
    }
    void release(const std::string& path) {
        std::lock_guard lock(mutex_);
        held_.erase(path);
        changed_.notify_all();
    }
    void waitUntilStarted(const std::string& path) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return started_.contains(path); });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> held_;     // guarded by mutex_
    std::set<std::string> started_;  // guarded by mutex_
};

class AppStateDeleteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::ensureCoreApplication();
        // The real Trash of these tests lives in a temporary folder, never in the user's.
        setenv("XDG_DATA_HOME", data_.path().c_str(), 1);
    }

    // An AppState whose scans and moves to the Trash are the real ones.
    std::unique_ptr<AppState> makeRealState() {
        AppServices services = world_.services();
        services.makeScanner = AppServices::system().makeScanner;
        services.recycle = AppServices::system().recycle;
        return std::make_unique<AppState>(std::move(services));
    }

    // An AppState whose moves to the Trash go through `gate`, showing a hand-made tree.
    std::unique_ptr<AppState> makeGatedState(GatedRecycle& gate, std::unique_ptr<FileNode> tree) {
        AppServices services = world_.services();
        services.recycle = [&gate](const fs::path& path, bool) { return gate(path); };
        auto state = std::make_unique<AppState>(std::move(services));
        scanAndFinish(*state, std::move(tree));
        return state;
    }

    void scanAndFinish(AppState& state, std::unique_ptr<FileNode> tree) {
        const std::string location = *tree->rootPath();
        state.scan(location, std::nullopt);
        world_.scanners.back()->finish(std::move(tree));
        ASSERT_TRUE(waitFor([&] { return state.phase().kind() == AppState::Phase::Kind::ready; }));
    }

    static bool waitForReady(AppState& state) {
        return waitFor([&] { return state.phase().kind() == AppState::Phase::Kind::ready; });
    }

    cb::testsupport::TempDir data_{"cb-xdg-data"};
    cb::testsupport::TempDir files_{"cb-delete"};
    FakeWorld world_;
};

TEST_F(AppStateDeleteTest, DeletingTheFocusedFolderTrashesItAndShrinksEveryAncestor) {
    const fs::path root = files_.path();
    writeFile(root / "a/b/c/f1", 8000);
    writeFile(root / "a/b/c/f2", 100);
    writeFile(root / "a/b/g", 5000);
    writeFile(root / "z", 10);
    auto state = makeRealState();
    state->scan(root, std::nullopt);
    ASSERT_TRUE(waitForReady(*state));

    FileNode* a = nodeAt(*state->root(), "a");
    FileNode* b = nodeAt(*state->root(), "a/b");
    FileNode* c = nodeAt(*state->root(), "a/b/c");
    ASSERT_TRUE(a && b && c);
    const int64_t cSize = c->size();
    ASSERT_GT(cSize, 0);
    struct Totals {
        FileNode* node;
        int64_t size;
        int64_t files;
    };
    std::vector<Totals> before;
    for (FileNode* n : {state->root(), a, b}) {
        before.push_back({n, n->size(), n->fileCount()});
    }
    state->setFocus(c);
    state->setHovered(nodeAt(*state->root(), "a/b/c/f1"));
    world_.events.clear();
    QSignalSpy redraw(state.get(), &AppState::rootChanged);

    state->setDeleteCandidate(c);
    state->confirmDelete();
    EXPECT_EQ(state->deleteCandidate(), nullptr);  // the dialog closes at once
    ASSERT_TRUE(waitFor([&] { return !world_.events.empty(); }));

    EXPECT_FALSE(fs::exists(root / "a/b/c"));
    EXPECT_TRUE(fs::exists(data_.path() / "Trash/files/c/f1"));
    EXPECT_TRUE(fs::exists(data_.path() / "Trash/info/c.trashinfo"));
    EXPECT_EQ(state->focus(), b);
    EXPECT_EQ(state->hovered(), nullptr);
    for (const Totals& t : before) {
        EXPECT_EQ(t.node->size(), t.size - cSize) << t.node->path();
        EXPECT_EQ(t.node->fileCount(), t.files - 2) << t.node->path();
    }
    EXPECT_EQ(nodeAt(*state->root(), "a/b/c"), nullptr);
    EXPECT_GE(redraw.count(), 1);
    ASSERT_THAT(world_.eventNames(), ElementsAre("item_deleted"));
    const sdk::Value::Dictionary& parameters = *world_.events[0].parameters;
    EXPECT_EQ(parameters.at("size_bytes"), sdk::Value(cSize));
    EXPECT_EQ(parameters.at("is_directory"), sdk::Value(true));
    EXPECT_TRUE(parameters.at("is_directory").isBool());
}

TEST_F(AppStateDeleteTest, DeletingTheScannedRootReturnsToWelcome) {
    const fs::path root = files_.path() / "scanned";
    writeFile(root / "only", 10);
    auto state = makeRealState();
    state->scan(root, std::nullopt);
    ASSERT_TRUE(waitForReady(*state));
    world_.events.clear();

    state->setDeleteCandidate(state->root());
    state->confirmDelete();
    ASSERT_TRUE(waitFor([&] { return state->root() == nullptr; }));
    EXPECT_FALSE(fs::exists(root));
    EXPECT_TRUE(fs::exists(data_.path() / "Trash/files/scanned/only"));
    EXPECT_EQ(state->phase().kind(), AppState::Phase::Kind::welcome);
    EXPECT_EQ(state->focus(), nullptr);
    EXPECT_FALSE(state->rootURL().has_value());
    EXPECT_FALSE(state->volumeCapacity().has_value());
    EXPECT_THAT(world_.eventNames(), ElementsAre("item_deleted"));
    state->refresh();  // nothing left to rescan
    EXPECT_EQ(state->phase().kind(), AppState::Phase::Kind::welcome);
}

TEST_F(AppStateDeleteTest, AFailedMoveOnlySetsTheErrorMessage) {
    AppServices services = world_.services();
    services.recycle = [](const fs::path&, bool) { return RecycleOutcome("Permission denied"); };
    AppState state(std::move(services));
    scanAndFinish(state, buildTree("/data", {{"a/f", 10}, {"b", 5}}));
    FileNode* a = nodeAt(*state.root(), "a");
    state.setFocus(a);
    world_.events.clear();

    state.setDeleteCandidate(a);
    state.confirmDelete();
    ASSERT_TRUE(waitFor([&] { return state.errorMessage().has_value(); }));
    EXPECT_EQ(*state.errorMessage(), "Permission denied");
    EXPECT_EQ(state.focus(), a);
    EXPECT_EQ(state.root()->size(), 15);
    EXPECT_EQ(nodeAt(*state.root(), "a"), a);
    EXPECT_TRUE(world_.events.empty());
}

TEST_F(AppStateDeleteTest, FocusElsewhereStaysAndFocusInsideMovesToTheParent) {
    GatedRecycle gate;
    auto state = makeGatedState(gate, buildTree("/data", {{"a/b/c/f", 10}, {"keep/f", 3}}));
    FileNode* keep = nodeAt(*state->root(), "keep");
    state->setFocus(keep);
    state->setDeleteCandidate(nodeAt(*state->root(), "a/b/c"));
    state->confirmDelete();
    ASSERT_TRUE(waitFor([&] { return world_.events.size() == 2; }));  // scan_completed too
    EXPECT_EQ(state->focus(), keep);

    // A focus deep inside the deleted folder moves to the deleted folder's parent.
    auto tree = buildTree("/data", {{"a/b/c/d/f", 10}});
    scanAndFinish(*state, std::move(tree));
    state->setFocus(nodeAt(*state->root(), "a/b/c/d"));
    state->setDeleteCandidate(nodeAt(*state->root(), "a/b"));
    state->confirmDelete();
    ASSERT_TRUE(waitFor([&] { return nodeAt(*state->root(), "a/b") == nullptr; }));
    EXPECT_EQ(state->focus(), nodeAt(*state->root(), "a"));
}

TEST_F(AppStateDeleteTest, AMoveThatEndsAfterItsNodeLeftTheTreeOnlyLogs) {
    GatedRecycle gate;
    auto state = makeGatedState(gate, buildTree("/data", {{"a/b/f", 10}, {"a/g", 5}}));
    world_.events.clear();

    // The file's move is held while its folder is deleted.
    gate.hold("/data/a/b/f");
    state->setDeleteCandidate(nodeAt(*state->root(), "a/b/f"));
    state->confirmDelete();
    gate.waitUntilStarted("/data/a/b/f");
    state->setDeleteCandidate(nodeAt(*state->root(), "a"));
    state->confirmDelete();
    ASSERT_TRUE(waitFor([&] { return nodeAt(*state->root(), "a") == nullptr; }));
    EXPECT_EQ(state->root()->size(), 0);

    gate.release("/data/a/b/f");
    ASSERT_TRUE(waitFor([&] { return world_.events.size() == 2; }));
    EXPECT_THAT(world_.eventNames(), ElementsAre("item_deleted", "item_deleted"));
    EXPECT_EQ(state->root()->size(), 0);

    // The same when the tree is replaced by a rescan while a move runs.
    scanAndFinish(*state, buildTree("/data", {{"x/f", 7}}));
    gate.hold("/data/x/f");
    state->setDeleteCandidate(nodeAt(*state->root(), "x/f"));
    state->confirmDelete();
    gate.waitUntilStarted("/data/x/f");
    scanAndFinish(*state, buildTree("/data", {{"x/f", 7}}));
    world_.events.clear();
    gate.release("/data/x/f");
    ASSERT_TRUE(waitFor([&] { return !world_.events.empty(); }));
    EXPECT_EQ(state->root()->size(), 7);
    EXPECT_NE(nodeAt(*state->root(), "x/f"), nullptr);
}

TEST_F(AppStateDeleteTest, ConfirmWithoutACandidateDoesNothing) {
    AppState state(world_.services());
    state.confirmDelete();
    QTest::qWait(20);
    EXPECT_TRUE(world_.events.empty());
    EXPECT_FALSE(state.errorMessage().has_value());
}

TEST_F(AppStateDeleteTest, RevealShowsTheNodesPath) {
    AppState state(world_.services());
    scanAndFinish(state, buildTree("/data", {{"a/f", 1}}));
    state.revealInFinder(*nodeAt(*state.root(), "a"));
    state.revealInFinder(*nodeAt(*state.root(), "a/f"));
    ASSERT_EQ(world_.revealed.size(), 2u);
    EXPECT_EQ(world_.revealed[0], std::make_pair(fs::path("/data/a"), true));
    EXPECT_EQ(world_.revealed[1], std::make_pair(fs::path("/data/a/f"), false));
}

}  // namespace
}  // namespace cb
