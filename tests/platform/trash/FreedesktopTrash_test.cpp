#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/trash/FreedesktopTrash.h"
#include "platform/trash/TrashInfo.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/TrashFiles.h"
#include "tests/support/Unprivileged.h"

namespace fs = std::filesystem;
using cb::testsupport::TempDir;
using platform::FreedesktopTrash;

namespace {

using cb::testsupport::isTrashInfo;
using cb::testsupport::listTree;
using cb::testsupport::readText;

constexpr uid_t kNobody = 65534;

// A fixture with a home Trash inside the temporary folder.
class FreedesktopTrashTest : public ::testing::Test {
  protected:
    TempDir dir_{"cb-trash"};
    fs::path items_ = dir_ / "items";
    FreedesktopTrash trash_{dir_ / "data" / "Trash", ::getuid()};

    void SetUp() override { cb::testsupport::makeDir(items_); }
};

TEST_F(FreedesktopTrashTest, MovesAFileAndAFolderAndDescribesEachInInfo) {
    cb::testsupport::writeText(items_ / "a file.txt", "data");
    cb::testsupport::writeText(items_ / "folder" / "inner", "x");
    cb::testsupport::writeText(items_ / "stays", "y");

    auto results = trash_.moveToTrash({items_ / "a file.txt", items_ / "folder/"});

    ASSERT_EQ(results.size(), 2u);
    const fs::path root = trash_.homeTrash();
    EXPECT_EQ(results[0].original, items_ / "a file.txt");
    EXPECT_EQ(results[0].trashed, root / "files" / "a file.txt");
    EXPECT_EQ(results[1].trashed, root / "files" / "folder");
    EXPECT_EQ(readText(root / "files" / "folder" / "inner"), "x");
    EXPECT_EQ(listTree(items_), std::vector<std::string>{"stays"});
    EXPECT_EQ((fs::status(root).permissions() & fs::perms::all), fs::perms::owner_all);

    std::string path;
    const std::string fileInfo = readText(root / "info" / "a file.txt.trashinfo");
    EXPECT_TRUE(isTrashInfo(fileInfo, &path)) << fileInfo;
    EXPECT_EQ(path, platform::encodeTrashInfoPath((items_ / "a file.txt").string()));
    const std::string folderInfo = readText(root / "info" / "folder.trashinfo");
    EXPECT_TRUE(isTrashInfo(folderInfo, &path)) << folderInfo;
    EXPECT_EQ(path, platform::encodeTrashInfoPath((items_ / "folder").string()));
}

TEST_F(FreedesktopTrashTest, NameClashesGetDistinctNamesAndNothingIsOverwritten) {
    for (const char* folder : {"one", "two", "three"}) {
        cb::testsupport::writeText(items_ / folder / "a.txt", folder);
    }
    cb::testsupport::writeText(items_ / ".hidden", "h1");
    cb::testsupport::writeText(items_ / "sub" / ".hidden", "h2");
    // A stray file without info must not be overwritten either.
    cb::testsupport::writeText(trash_.homeTrash() / "files" / "a.3.txt", "stray");

    auto results =
        trash_.moveToTrash({items_ / "one/a.txt", items_ / "two/a.txt", items_ / "three/a.txt",
                            items_ / ".hidden", items_ / "sub/.hidden"});

    const fs::path files = trash_.homeTrash() / "files";
    std::vector<fs::path> expected = {files / "a.txt", files / "a.2.txt", files / "a.4.txt",
                                      files / ".hidden", files / ".hidden.2"};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(results[i].trashed, expected[i]);
    EXPECT_EQ(readText(files / "a.txt"), "one");
    EXPECT_EQ(readText(files / "a.3.txt"), "stray");
    EXPECT_EQ(readText(files / "a.4.txt"), "three");
    EXPECT_EQ(readText(files / ".hidden.2"), "h2");
    EXPECT_TRUE(fs::exists(trash_.homeTrash() / "info" / "a.4.txt.trashinfo"));
    EXPECT_FALSE(fs::exists(trash_.homeTrash() / "info" / "a.3.txt.trashinfo"));
}

TEST_F(FreedesktopTrashTest, ADanglingSymbolicLinkIsMovedItselfAndItsTargetIsUntouched) {
    cb::testsupport::makeSymlink(items_ / "missing-target", items_ / "dangling");
    cb::testsupport::writeText(items_ / "target", "t");
    cb::testsupport::makeSymlink(items_ / "target", items_ / "link");

    auto results = trash_.moveToTrash({items_ / "dangling", items_ / "link"});

    ASSERT_TRUE(results[0].trashed.has_value()) << results[0].reason;
    ASSERT_TRUE(results[1].trashed.has_value()) << results[1].reason;
    EXPECT_TRUE(fs::is_symlink(*results[0].trashed));
    EXPECT_TRUE(fs::is_symlink(*results[1].trashed));
    EXPECT_EQ(listTree(items_), std::vector<std::string>{"target"});
}

TEST_F(FreedesktopTrashTest, DotDotAfterALinkMovesTheItemTheSystemFindsThere) {
    // items/link/../victim is elsewhere/victim to the kernel, not items/victim.
    cb::testsupport::writeText(items_ / "victim", "lexical twin");
    cb::testsupport::writeText(items_ / "elsewhere" / "victim", "real");
    cb::testsupport::makeDir(items_ / "elsewhere" / "inner");
    cb::testsupport::makeSymlink(items_ / "elsewhere" / "inner", items_ / "link");
    cb::testsupport::writeText(items_ / "folder" / "inner", "f");

    auto results = trash_.moveToTrash({items_ / "link/../victim", items_ / "folder/./"});

    ASSERT_TRUE(results[0].trashed.has_value()) << results[0].reason;
    EXPECT_EQ(readText(*results[0].trashed), "real");
    EXPECT_EQ(readText(items_ / "victim"), "lexical twin");
    std::string path;
    const fs::path info = trash_.homeTrash() / "info" / "victim.trashinfo";
    EXPECT_TRUE(isTrashInfo(readText(info), &path));
    EXPECT_EQ(path, platform::encodeTrashInfoPath(
                        (fs::canonical(items_) / "elsewhere" / "victim").string()));
    EXPECT_EQ(results[1].trashed, trash_.homeTrash() / "files" / "folder");
    EXPECT_EQ(listTree(items_),
              (std::vector<std::string>{"elsewhere", "elsewhere/inner", "link", "victim"}));
}

TEST_F(FreedesktopTrashTest, AnItemOnAnotherFileSystemGoesToThatVolumesTrashWithARelativePath) {
    // /dev/shm is usually a file system of its own; the item is reached through a link.
    struct stat shm {};
    struct stat here {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir_.path().c_str(), &here) != 0 ||
        shm.st_dev == here.st_dev || ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/shm on a file system of its own";
    }
    const fs::path top = FreedesktopTrash::topDirectory("/dev/shm");
    const fs::path volumeTrash = top / (".Trash-" + std::to_string(::getuid()));
    const fs::path sharedTrash = top / ".Trash" / std::to_string(::getuid());
    const bool hadVolumeTrash = fs::exists(volumeTrash);
    const bool hadSharedTrash = fs::exists(sharedTrash);
    std::string folder = "/dev/shm/cb-trash-XXXXXX";
    ASSERT_NE(::mkdtemp(folder.data()), nullptr);
    cb::testsupport::writeText(fs::path(folder) / "it's 100%", "v");
    cb::testsupport::makeSymlink(folder, items_ / "link");

    auto result = trash_.moveOne(items_ / "link" / "it's 100%");

    const std::string relative = fs::path(folder).lexically_relative(top).string() + "/it's 100%";
    fs::path root;
    std::string info;
    if (result.trashed) {
        root = result.trashed->parent_path().parent_path();
        const fs::path infoFile =
            root / "info" / (result.trashed->filename().string() + ".trashinfo");
        info = readText(infoFile);
        fs::remove(*result.trashed);
        fs::remove(infoFile);
    }
    cb::testsupport::removeTree(folder);
    if (!hadVolumeTrash)
        cb::testsupport::removeTree(volumeTrash);
    if (!hadSharedTrash)
        cb::testsupport::removeTree(sharedTrash);

    ASSERT_TRUE(result.trashed.has_value()) << result.reason;
    EXPECT_TRUE(root == volumeTrash || root == sharedTrash) << root;
    std::string path;
    EXPECT_TRUE(isTrashInfo(info, &path)) << info;
    EXPECT_EQ(path, platform::encodeTrashInfoPath(relative));
    EXPECT_FALSE(fs::exists(trash_.homeTrash() / "files"));
}

TEST_F(FreedesktopTrashTest, FailuresCarryTheSystemReasonAndLeaveNoReservationBehind) {
    cb::testsupport::writeText(items_ / "kept", "k");
    // The Trash's own parent cannot be moved into the Trash: rename refuses (EINVAL).
    auto results = trash_.moveToTrash({items_ / "kept", items_ / "missing", dir_ / "data"});

    EXPECT_TRUE(results[0].trashed.has_value());
    EXPECT_FALSE(results[1].trashed.has_value());
    EXPECT_EQ(results[1].error, ENOENT);
    EXPECT_EQ(results[1].reason, "No such file or directory");
    EXPECT_FALSE(results[2].trashed.has_value());
    EXPECT_EQ(results[2].reason, "Invalid argument");
    EXPECT_EQ(listTree(trash_.homeTrash() / "info"), std::vector<std::string>{"kept.trashinfo"});
}

TEST_F(FreedesktopTrashTest, ReasonsStayUntranslatedInAnotherMessageLanguage) {
    // The application object sets the locale from the environment; the batch still has to find
    // "Permission denied" and "Operation not permitted" in the reasons.
    const std::string previous = ::setlocale(LC_ALL, nullptr);
    const char* language = std::getenv("LANGUAGE");
    const std::string previousLanguage = language != nullptr ? language : "";
    ::setenv("LANGUAGE", "de", 1);
    const bool translated = ::setlocale(LC_ALL, "C.UTF-8") != nullptr &&
                            std::string(std::strerror(ENOENT)) != "No such file or directory";

    auto result = trash_.moveOne(items_ / "missing");

    ::setlocale(LC_ALL, previous.c_str());
    if (language != nullptr) {
        ::setenv("LANGUAGE", previousLanguage.c_str(), 1);
    } else {
        ::unsetenv("LANGUAGE");
    }
    if (!translated)
        GTEST_SKIP() << "no German system messages installed";
    EXPECT_EQ(result.error, ENOENT);
    EXPECT_EQ(result.reason, "No such file or directory");
}

TEST_F(FreedesktopTrashTest, RefusedRenamesReportPermissionTextsForAnOrdinaryUser) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to build the fixture for nobody";
    dir_.openToEveryone();
    cb::testsupport::makeDir(items_ / "locked", 0755);  // root's folder: no writes for nobody
    cb::testsupport::writeText(items_ / "locked" / "file", "x");
    cb::testsupport::makeDir(items_ / "shared", 01777);  // sticky: others' files stay
    cb::testsupport::writeText(items_ / "shared" / "file", "x");
    ::chmod(items_.c_str(), 0755);
    const fs::path home = dir_ / "nobody";
    cb::testsupport::makeDir(home, 0755);
    ::chown(home.c_str(), kNobody, kNobody);

    auto child = cb::testsupport::runUnprivileged([&] {
        FreedesktopTrash trash(home / "Trash", kNobody);
        auto results = trash.moveToTrash({items_ / "locked/file", items_ / "shared/file"});
        return results[0].reason + "|" + results[1].reason + "|" +
               std::to_string(listTree(home / "Trash" / "info").size());
    });

    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output, "Permission denied|Operation not permitted|0");
    EXPECT_TRUE(fs::exists(items_ / "locked" / "file"));
    EXPECT_TRUE(fs::exists(items_ / "shared" / "file"));
}

TEST_F(FreedesktopTrashTest, ALinkedHomeTrashIsFollowedOnlyToAFolderOfTheUsersOwn) {
    const fs::path link = dir_ / "data" / "Trash";
    struct Case {
        const char* label;
        std::function<fs::path()> makeTarget;  // returns where the link points
        bool moves;
    } cases[] = {
        {"own folder",
         [&] {
             cb::testsupport::makeDir(dir_ / "real-trash", 0700);
             return dir_ / "real-trash";
         },
         true},
        {"dangling", [&] { return dir_ / "nowhere"; }, false},
        {"a file",
         [&] {
             cb::testsupport::writeText(dir_ / "a-file", "x");
             return dir_ / "a-file";
         },
         false},
        {"another user's folder",
         [&] {
             cb::testsupport::makeDir(dir_ / "foreign", 0777);
             if (::chown((dir_ / "foreign").c_str(), kNobody, kNobody) != 0)
                 return fs::path();  // not root: this case cannot be built
             return dir_ / "foreign";
         },
         false},
    };
    for (const Case& c : cases) {
        const fs::path target = c.makeTarget();
        if (target.empty())
            continue;
        fs::remove(link);
        cb::testsupport::makeSymlink(target, link);
        cb::testsupport::writeText(items_ / "item", c.label);

        auto results = trash_.moveToTrash({items_ / "item"});

        ASSERT_EQ(results.size(), 1u);
        ASSERT_EQ(results[0].trashed.has_value(), c.moves) << c.label << ": " << results[0].reason;
        if (c.moves) {
            EXPECT_EQ(*results[0].trashed, target / "files" / "item") << c.label;
            EXPECT_TRUE(isTrashInfo(readText(target / "info" / "item.trashinfo"))) << c.label;
            EXPECT_TRUE(fs::is_symlink(link)) << c.label;
        } else {
            EXPECT_EQ(results[0].reason.find("the Trash folder " + link.string()), 0u)
                << c.label << ": " << results[0].reason;
            EXPECT_TRUE(fs::exists(items_ / "item")) << c.label;
        }
    }
}

TEST(VolumeTrashTest, ATrashFolderThatCannotBeMadeIsNamedAndNotAPermissionText) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to build the fixture for nobody";
    TempDir top("cb-volume");
    top.openToEveryone();
    ::chmod(top.path().c_str(), 0755);  // root's top folder: nobody cannot add to it
    auto child = cb::testsupport::runUnprivileged([&] {
        FreedesktopTrash trash(top / "unused-home", kNobody);
        int error = 0;
        std::string reason;
        const bool chosen = trash.volumeTrash(top.path(), error, reason).has_value();
        return std::string(chosen ? "chosen" : "refused") + "|" + reason;
    });
    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output, "refused|the Trash folder " + (top / ".Trash-65534").string() +
                                " could not be made: the folder above it is not writable");
}

TEST_F(FreedesktopTrashTest, OverlongNamesAreShortenedToFitTheInfoFile) {
    std::string longName = std::string(240, 'a');
    longName.replace(230, 6, "\xE2\x80\xA2\xE2\x80\xA2");  // two bullets near the cut
    cb::testsupport::writeText(items_ / longName, "x");

    auto result = trash_.moveOne(items_ / longName);

    ASSERT_TRUE(result.trashed.has_value()) << result.reason;
    const std::string trashed = result.trashed->filename().string();
    EXPECT_LE(trashed.size() + 10, 255u);
    EXPECT_EQ(longName.rfind(trashed, 0), 0u);  // a prefix of the name
    EXPECT_TRUE(fs::exists(trash_.homeTrash() / "info" / (trashed + ".trashinfo")));
}

TEST(TrashInfoTest, PathsArePercentEncodedExceptUnreservedCharactersAndSlashes) {
    struct Case {
        std::string path;
        std::string encoded;
    } cases[] = {
        {"/home/u/plain-name_1.txt~", "/home/u/plain-name_1.txt~"},
        {"/tmp/a b", "/tmp/a%20b"},
        {"/tmp/100%", "/tmp/100%25"},
        {"/tmp/it's\n\"x\"", "/tmp/it%27s%0A%22x%22"},
        {"/tmp/\xC3\xA9", "/tmp/%C3%A9"},
        {"rel/a?b#c", "rel/a%3Fb%23c"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::encodeTrashInfoPath(c.path), c.encoded);
}

TEST(VolumeTrashTest, TopDirectoryIsTheHighestFolderOnTheSameFileSystem) {
    EXPECT_EQ(FreedesktopTrash::topDirectory("/proc/self/fd"), "/proc");
    EXPECT_EQ(FreedesktopTrash::topDirectory("/"), "/");
    EXPECT_EQ(FreedesktopTrash::topDirectory("/no/such/folder"), "");
}

TEST(VolumeTrashTest, SharedTrashCountsOnlyWhenStickyAndRealElseThePerUserFolder) {
    const std::string uid = std::to_string(::getuid());
    struct Case {
        const char* name;
        int sharedMode;  // -1: no shared .Trash; -2: a symbolic link to a sticky folder
        std::string expected;
    } cases[] = {
        {"sticky", 01777, ".Trash/" + uid},
        {"not-sticky", 0777, ".Trash-" + uid},
        {"absent", -1, ".Trash-" + uid},
        {"link", -2, ".Trash-" + uid},
    };
    for (const Case& c : cases) {
        TempDir top("cb-volume");
        if (c.sharedMode >= 0) {
            cb::testsupport::makeDir(top / ".Trash", 0700);
            ::chmod((top / ".Trash").c_str(), static_cast<mode_t>(c.sharedMode));
        } else if (c.sharedMode == -2) {
            cb::testsupport::makeDir(top / "elsewhere", 0700);
            ::chmod((top / "elsewhere").c_str(), 01777);
            cb::testsupport::makeSymlink(top / "elsewhere", top / ".Trash");
        }
        FreedesktopTrash trash(top / "unused-home", ::getuid());
        int error = 0;
        std::string reason;
        auto chosen = trash.volumeTrash(top.path(), error, reason);
        ASSERT_TRUE(chosen.has_value()) << c.name << ": " << reason;
        EXPECT_EQ(*chosen, top / c.expected) << c.name;
        EXPECT_EQ((fs::status(*chosen).permissions() & fs::perms::all), fs::perms::owner_all);
    }
}

TEST(VolumeTrashTest, APerUserFolderOfAnotherOwnerIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give the folder away";
    TempDir top("cb-volume");
    const fs::path own = top / (".Trash-" + std::to_string(::getuid()));
    cb::testsupport::makeDir(own, 0700);
    ::chown(own.c_str(), kNobody, kNobody);
    FreedesktopTrash trash(top / "unused-home", ::getuid());
    int error = 0;
    std::string reason;
    EXPECT_FALSE(trash.volumeTrash(top.path(), error, reason).has_value());
    EXPECT_EQ(error, EPERM);
    EXPECT_NE(reason.find("belongs to another user"), std::string::npos);
}

TEST(VolumeTrashTest, TheMountHoldingAPathIsItsNearestMountPointInTheTable) {
    // Fields: id, parent, device, root, mount point (with the table's escapes), options...
    const std::string table =
        "21 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "30 21 0:5 / /proc rw - proc proc rw\n"
        "40 21 254:0 /srv/data /mnt/bind rw - ext4 /dev/vda rw\n"
        "41 21 254:0 /x /mnt/two\\040words rw - ext4 /dev/vda rw\n"
        "42 40 0:9 / /mnt/bind/inner rw - tmpfs tmpfs rw\n"
        "43 40 0:10 / /mnt/bind/inner rw - tmpfs tmpfs rw\n"  // hides 42
        "garbage line\n";
    const struct {
        const char* path;
        int id;
        const char* point;
    } cases[] = {
        {"/", 21, "/"},
        {"/home/u/file", 21, "/"},
        {"/proc/self", 30, "/proc"},
        {"/procfs", 21, "/"},  // whole components only
        {"/mnt/bind", 40, "/mnt/bind"},
        {"/mnt/bind/", 40, "/mnt/bind"},
        {"/mnt/bind/a/b", 40, "/mnt/bind"},
        {"/mnt/binder", 21, "/"},
        {"/mnt/two words/f", 41, "/mnt/two words"},
        {"/mnt/bind/inner/f", 43, "/mnt/bind/inner"},
    };
    for (const auto& c : cases) {
        auto mount = FreedesktopTrash::mountHolding(c.path, table);
        ASSERT_TRUE(mount.has_value()) << c.path;
        EXPECT_EQ(mount->id, c.id) << c.path;
        EXPECT_EQ(mount->point, c.point) << c.path;
    }
    EXPECT_FALSE(FreedesktopTrash::mountHolding("/a", "").has_value());
    EXPECT_FALSE(FreedesktopTrash::mountHolding("/a", "30 21 0:5 / /proc rw\n").has_value());
}

TEST(VolumeTrashTest, AnItemOnABindMountOfTheHomeFileSystemGoesToThatMountsTrash) {
    TempDir dir("cb-trash-bind");
    const fs::path source = dir / "source";
    const fs::path bind = dir / "bind";
    const fs::path home = dir / "home";
    cb::testsupport::makeDir(source);
    cb::testsupport::makeDir(bind);
    cb::testsupport::makeDir(home);
    const std::string uid = std::to_string(::getuid());

    auto child = cb::testsupport::runInMountNamespace(source, bind, [&] {
        std::string out;
        for (bool devicesOnly : {false, true}) {
            // With device numbers alone the home Trash is chosen and the rename meets EXDEV.
            const std::string name = devicesOnly ? "by-device" : "by-mount";
            cb::testsupport::writeText(bind / name, name);
            FreedesktopTrash trash(home / "Trash", ::getuid());
            if (devicesOnly)
                trash.TEST_compareDevicesOnly();
            const platform::TrashedItem moved = trash.moveOne(bind / name);
            out += name + ": " +
                   (moved.trashed ? moved.trashed->lexically_relative(dir.path()).string()
                                  : "not moved (" + moved.reason + ")");
            std::string infoPath;
            const bool valid = isTrashInfo(
                readText(bind / (".Trash-" + uid) / "info" / (name + ".trashinfo")), &infoPath);
            out += std::string(valid ? " info " : " no info ") + infoPath + "\n";
        }
        // An item beside the home Trash still goes there.
        cb::testsupport::writeText(home / "beside", "b");
        const platform::TrashedItem moved =
            FreedesktopTrash(home / "Trash", ::getuid()).moveOne(home / "beside");
        out += "beside: " + (moved.trashed ? moved.trashed->lexically_relative(dir.path()).string()
                                           : moved.reason);
        return out;
    });
    if (child.exitCode == 5)
        GTEST_SKIP() << "no mount namespace to bind-mount in: " << child.output;
    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output, "by-mount: bind/.Trash-" + uid + "/files/by-mount info by-mount\n" +
                                "by-device: bind/.Trash-" + uid +
                                "/files/by-device info by-device\n" +
                                "beside: home/Trash/files/beside");
    // The mount went with the child; the items are in the bound folder's Trash on disk.
    EXPECT_EQ(listTree(source),
              (std::vector<std::string>{
                  ".Trash-" + uid, ".Trash-" + uid + "/files", ".Trash-" + uid + "/files/by-device",
                  ".Trash-" + uid + "/files/by-mount", ".Trash-" + uid + "/info",
                  ".Trash-" + uid + "/info/by-device.trashinfo",
                  ".Trash-" + uid + "/info/by-mount.trashinfo"}));
    EXPECT_TRUE(listTree(bind).empty());
}

}  // namespace
