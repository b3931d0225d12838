#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/disk/PrivilegedMove.h"
#include "app/localization/LocalizationManager.h"
#include "platform/trash/TrashInfo.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/TrashFiles.h"

namespace fs = std::filesystem;
using cb::PrivilegedMoveScriptContext;

namespace {

using cb::testsupport::isTrashInfo;
using cb::testsupport::listTree;
using cb::testsupport::readText;

// Numbered UUIDs: ...-000000000001, ...-000000000002, ...
PrivilegedMoveScriptContext fixedContext() {
    auto counter = std::make_shared<int>(0);
    return PrivilegedMoveScriptContext{
        501, 20,
        [counter] {
            char text[37];
            std::snprintf(text, sizeof text, "00000000-0000-4000-8000-%012d", ++*counter);
            return std::string(text);
        },
        0};
}

class PrivilegedMoveTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        cb::LocalizationManager::shared().setCurrent(cb::Language::english);
    }

    cb::testsupport::TempDir dir_{"cb-privileged"};
    fs::path trash_ = dir_ / "data" / "Trash";

    // A launcher standing in for pkexec: `body` decides what happens to "/bin/sh -c SCRIPT".
    platform::PrivilegedRunner launcher(const std::string& name, const std::string& body) {
        const fs::path path = dir_ / name;
        cb::testsupport::writeText(path, "#!/bin/sh\n" + body);
        fs::permissions(path, fs::perms::owner_all);
        return platform::PrivilegedRunner(path.string());
    }
};

TEST_F(PrivilegedMoveTest, ScriptTextIsExact) {
    const std::string expected = R"(move_status=0
/bin/mkdir -p -m 700 '/home/u/T' '/home/u/T/files' '/home/u/T/info' && /bin/chown -h 501:20 '/home/u/T' '/home/u/T/files' '/home/u/T/info' || move_status=1
{ printf '%s\n' '[Trash Info]' 'Path=/tmp/it%27s' 'DeletionDate=1970-01-01T00:00:00' > '/home/u/T/info/00000000-0000-4000-8000-000000000001.trashinfo' && /bin/chown -h 501:20 '/home/u/T/info/00000000-0000-4000-8000-000000000001.trashinfo' && /bin/mv -n '/tmp/it'\''s' '/home/u/T/files/00000000-0000-4000-8000-000000000001'; } || { [ -e '/home/u/T/files/00000000-0000-4000-8000-000000000001' ] || [ -h '/home/u/T/files/00000000-0000-4000-8000-000000000001' ] || /bin/rm -f '/home/u/T/info/00000000-0000-4000-8000-000000000001.trashinfo'; move_status=1; }
{ printf '%s\n' '[Trash Info]' 'Path=/Library/a%20%22b%22' 'DeletionDate=1970-01-01T00:00:00' > '/home/u/T/info/00000000-0000-4000-8000-000000000002.trashinfo' && /bin/chown -h 501:20 '/home/u/T/info/00000000-0000-4000-8000-000000000002.trashinfo' && /bin/mv -n '/Library/a "b"' '/home/u/T/files/00000000-0000-4000-8000-000000000002'; } || { [ -e '/home/u/T/files/00000000-0000-4000-8000-000000000002' ] || [ -h '/home/u/T/files/00000000-0000-4000-8000-000000000002' ] || /bin/rm -f '/home/u/T/info/00000000-0000-4000-8000-000000000002.trashinfo'; move_status=1; }
exit "$move_status")";
    EXPECT_EQ(cb::makePrivilegedMoveScript({"/tmp/it's", "/Library/a \"b\"/"}, "/home/u/T",
                                           fixedContext()),
              expected);
    EXPECT_EQ(cb::makePrivilegedMoveScript({}, "/T", fixedContext()),
              "move_status=0\n/bin/mkdir -p -m 700 '/T' '/T/files' '/T/info' && /bin/chown -h "
              "501:20 '/T' '/T/files' '/T/info' || move_status=1\nexit \"$move_status\"");
}

TEST_F(PrivilegedMoveTest, AFailedMoveLeavesNoInfoFileAndReportsTheToolsReason) {
    // mv cannot move a folder into the Trash inside it; where the file system allows, an
    // immutable file fails as well. The item between them still moves.
    const fs::path holder = dir_ / "data";
    cb::testsupport::writeText(holder / "inside", "x");
    cb::testsupport::writeText(dir_ / "fine", "f");
    const fs::path immutable = dir_ / "immutable";
    cb::testsupport::writeText(immutable, "i");
    const std::string chattr = "chattr +i '" + immutable.string() + "' 2>/dev/null";
    const bool immutableMade = std::system(chattr.c_str()) == 0;
    std::vector<fs::path> items = {holder, dir_ / "fine"};
    if (immutableMade)
        items.push_back(immutable);
    auto runner = launcher("as-user", "exec \"$@\"\n");

    auto result = cb::privilegedMoveToTrash(items, trash_, runner);

    if (immutableMade)
        (void)std::system(("chattr -i '" + immutable.string() + "'").c_str());
    EXPECT_EQ(result.moved, std::vector<fs::path>{dir_ / "fine"});
    ASSERT_EQ(result.failed.size(), items.size() - 1);
    EXPECT_EQ(result.failed[0].url, holder);
    for (const cb::TrashFailure& failure : result.failed) {
        EXPECT_NE(failure.reason.find("mv: cannot move"), std::string::npos) << failure.reason;
    }
    // One item in the Trash, one info file, and they belong together.
    const std::vector<std::string> files = listTree(trash_ / "files");
    const std::vector<std::string> infos = listTree(trash_ / "info");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(infos, std::vector<std::string>{files[0] + ".trashinfo"});
}

TEST_F(PrivilegedMoveTest, OwnersOfExistingTrashFoldersAreFixedWithoutFollowingLinks) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the link's target another owner";
    // The Trash's "info" is a link to a folder of another user; its owner must stay.
    const fs::path elsewhere = dir_ / "elsewhere";
    cb::testsupport::makeDir(elsewhere, 0755);
    ASSERT_EQ(::chown(elsewhere.c_str(), 65534, 65534), 0);
    cb::testsupport::makeDir(trash_ / "files");
    cb::testsupport::makeSymlink(elsewhere, trash_ / "info");
    auto runner = launcher("as-user", "exec \"$@\"\n");

    (void)cb::privilegedMoveToTrash({}, trash_, runner);

    struct stat st {};
    ASSERT_EQ(::stat(elsewhere.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
}

TEST_F(PrivilegedMoveTest, ScriptMovesAwkwardPathsIntoTheTrashUnchanged) {
    const std::vector<std::string> names = {
        "it's",           "say \"hi\"", "back\\slash", "$(touch pwned)",
        "`touch pwned2`", "new\nline",  "dup"};
    std::vector<fs::path> items;
    for (const std::string& name : names) {
        items.push_back(dir_ / "items" / name);
        cb::testsupport::writeText(items.back(), name);
    }
    items.push_back(dir_ / "items" / "sub" / "dup");  // same name, different folder
    cb::testsupport::writeText(items.back(), "second dup");
    auto runner = launcher("as-user", "exec \"$@\"\n");

    auto result = cb::privilegedMoveToTrash(items, trash_, runner);

    EXPECT_EQ(result.moved, items);
    EXPECT_TRUE(result.failed.empty());
    EXPECT_FALSE(fs::exists(fs::current_path() / "pwned"));
    EXPECT_FALSE(fs::exists(fs::current_path() / "pwned2"));
    // Each item sits under its own UUID, with an info file naming where it came from.
    size_t found = 0;
    for (const auto& entry : fs::directory_iterator(trash_ / "files")) {
        const std::string content = readText(entry.path());
        const std::string info =
            readText(trash_ / "info" / (entry.path().filename().string() + ".trashinfo"));
        const size_t index = content == "second dup" ? names.size() : [&] {
            for (size_t i = 0; i < names.size(); ++i) {
                if (names[i] == content)
                    return i;
            }
            return names.size() + 1;
        }();
        ASSERT_LE(index, names.size()) << content;
        EXPECT_EQ(entry.path().filename().string().size(), 36u);
        EXPECT_NE(
            info.find("[Trash Info]\nPath=" + platform::encodeTrashInfoPath(items[index].string()) +
                      "\nDeletionDate="),
            std::string::npos)
            << info;
        ++found;
    }
    EXPECT_EQ(found, items.size());
    EXPECT_EQ((fs::status(trash_).permissions() & fs::perms::all), fs::perms::owner_all);
}

TEST_F(PrivilegedMoveTest, DotDotAfterALinkMovesTheItemTheSystemFindsThere) {
    // dir/link/../victim is dir/elsewhere/victim to the shell; its namesake must stay.
    cb::testsupport::writeText(dir_ / "victim", "lexical twin");
    cb::testsupport::writeText(dir_ / "elsewhere" / "victim", "real");
    cb::testsupport::makeDir(dir_ / "elsewhere" / "inner");
    cb::testsupport::makeSymlink(dir_ / "elsewhere" / "inner", dir_ / "link");
    auto runner = launcher("as-user", "exec \"$@\"\n");

    auto result = cb::privilegedMoveToTrash({dir_ / "link/../victim"}, trash_, runner);

    EXPECT_EQ(result.moved, std::vector<fs::path>{dir_ / "link/../victim"});
    EXPECT_EQ(readText(dir_ / "victim"), "lexical twin");
    EXPECT_FALSE(fs::exists(dir_ / "elsewhere" / "victim"));
}

TEST_F(PrivilegedMoveTest, ItemsLeftInPlaceGetTheReasonFromTheErrorOutput) {
    cb::testsupport::writeText(dir_ / "a", "a");
    cb::testsupport::writeText(dir_ / "b", "b");
    cb::testsupport::makeSymlink(dir_ / "nowhere", dir_ / "dangling");
    const std::vector<fs::path> items = {dir_ / "a", dir_ / "gone", dir_ / "b", dir_ / "dangling"};
    struct Case {
        const char* label;
        std::string launcherBody;
        std::string reason;
    } cases[] = {
        {"dismissed",
         "echo 'Error executing command as another user: Not authorized' >&2\nexit 126\n",
         "user cancelled password prompt"},
        {"canceled in any case", "echo '  Request CANCELED by the user. ' >&2\n",
         "user cancelled password prompt"},
        {"no agent to ask",
         "echo 'Error executing command as another user: No authentication agent found.' "
         ">&2\nexit 127\n",
         "authorisation is not possible: Error executing command as another user: No "
         "authentication agent found."},
        {"tool error text", "printf '\\n  mv: cannot move: Read-only file system \\n\\n' >&2\n",
         "mv: cannot move: Read-only file system"},
        {"nothing said", "exit 1\n", "admin authorization failed"},
        {"undecodable", "printf 'bad \\377' >&2\n", "admin authorization failed"},
    };
    for (const Case& c : cases) {
        auto runner = launcher(std::string("runner-") + c.label, c.launcherBody);
        auto result = cb::privilegedMoveToTrash(items, trash_, runner);
        EXPECT_EQ(result.moved, std::vector<fs::path>{dir_ / "gone"}) << c.label;
        ASSERT_EQ(result.failed.size(), 3u) << c.label;
        EXPECT_EQ(result.failed[0], (cb::TrashFailure{dir_ / "a", c.reason})) << c.label;
        EXPECT_EQ(result.failed[1].url, dir_ / "b");
        EXPECT_EQ(result.failed[2].url, dir_ / "dangling");  // a dangling link is still there
        // Only a launcher that can authorise nobody leaves elevation impossible.
        EXPECT_EQ(result.elevationNotPossible, std::string(c.label) == "no agent to ask")
            << c.label;
    }
}

TEST_F(PrivilegedMoveTest, LauncherThatCannotStartFailsEveryItem) {
    cb::testsupport::writeText(dir_ / "a", "a");
    platform::PrivilegedRunner runner((dir_ / "no-pkexec").string());
    auto result = cb::privilegedMoveToTrash({dir_ / "a", dir_ / "b"}, trash_, runner);
    EXPECT_TRUE(result.moved.empty());
    const std::string reason = "could not launch pkexec: No such file or directory";
    EXPECT_EQ(result.failed,
              (std::vector<cb::TrashFailure>{{dir_ / "a", reason}, {dir_ / "b", reason}}));
    EXPECT_TRUE(result.elevationNotPossible);
}

TEST_F(PrivilegedMoveTest, EmptyListStillRunsTheScriptAndReportsNothing) {
    auto runner = launcher("mark", "touch '" + (dir_ / "ran").string() + "'\nexec \"$@\"\n");
    auto result = cb::privilegedMoveToTrash({}, trash_, runner);
    EXPECT_TRUE(result.moved.empty());
    EXPECT_TRUE(result.failed.empty());
    EXPECT_TRUE(fs::exists(dir_ / "ran"));
}

}  // namespace
