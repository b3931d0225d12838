#include <gtest/gtest.h>

#include "app/AppState.h"
#include "tests/app/AppStateFakes.h"

namespace cb {
namespace {

using testing::buildTree;
using testing::nodeAt;

TEST(FindNodeTest, FindsTheNodeOfAPathInOneBranch) {
    auto root = buildTree("/r", {{"b/x", 1}, {"bc/x", 2}, {"bc/y/z", 3}});
    const struct {
        const char* target;
        const char* expected;  // relative to the root; nullptr: not found
    } cases[] = {
        {"/r", ""},
        {"/r/b", "b"},
        {"/r/bc/x", "bc/x"},  // "b" is a prefix of "bc" but not of "bc/"
        {"/r/bc/y/z", "bc/y/z"},
        {"/r/missing", nullptr},
        {"/r/", nullptr},
        {"/rx/b", nullptr},
        {"/other", nullptr},
    };
    for (const auto& c : cases) {
        FileNode* found = AppState::findNode(*root, "/r", c.target);
        FileNode* expected = c.expected ? nodeAt(*root, c.expected) : nullptr;
        EXPECT_EQ(found, expected) << c.target;
    }
}

TEST(FindNodeTest, AVolumeRootGetsNoSecondSlash) {
    auto root = buildTree("/", {{"Users/alice/notes", 4}});
    EXPECT_EQ(AppState::findNode(*root, "/", "/Users/alice"), nodeAt(*root, "Users/alice"));
    EXPECT_EQ(AppState::findNode(*root, "/", "//Users/alice"), nullptr);
}

TEST(ModeTest, RawValuesAndOrder) {
    ASSERT_EQ(AppState::kAllModes.size(), 2u);
    EXPECT_EQ(AppState::kAllModes[0], AppState::Mode::folder);
    EXPECT_EQ(AppState::kAllModes[1], AppState::Mode::apps);
    EXPECT_EQ(rawValue(AppState::Mode::folder), "folder");
    EXPECT_EQ(rawValue(AppState::Mode::apps), "apps");
    EXPECT_EQ(modeFromRawValue("folder"), AppState::Mode::folder);
    EXPECT_EQ(modeFromRawValue("apps"), AppState::Mode::apps);
    EXPECT_EQ(modeFromRawValue("Folder"), std::nullopt);
    EXPECT_EQ(modeFromRawValue(""), std::nullopt);
}

TEST(UninstallPermissionPromptTest, EachPromptHasItsOwnIdentity) {
    AppState::UninstallPermissionPrompt a;
    a.needsFullDiskAccess = true;
    a.failedPaths = {"/Applications/X.app"};
    a.succeededCount = 2;
    AppState::UninstallPermissionPrompt b = a;
    EXPECT_EQ(a, b);
    b.id = AppState::UninstallPermissionPrompt().id;  // same flags and paths, fresh id
    EXPECT_NE(a, b);
    b.id = a.id;
    b.failedPaths.push_back("/tmp/y");
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace cb
