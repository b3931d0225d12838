#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/disk/FullDiskAccess.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace fs = std::filesystem;

namespace {

TEST(FullDiskAccessTest, ProtectedLocations) {
    struct Case {
        const char* path;
        bool isProtected;
    } cases[] = {
        {"/", true},
        // The home folder is the user's own, its Library included.
        {"/home/u", false},
        {"/home/u/", false},
        {"/home/u/Library", false},
        {"/home/u/Library/Caches", false},
        {"/home/u/Documents", false},
        {"/home/u2", false},
        {"/home", false},
        {"/Users", false},
        {"/Applications", false},
        {"/Volumes/Disk", false},
        {"/usr/local", true},
        {"/private/var", true},
        {"/System/Library", true},
        {"/Library", true},
        {"/variants", true},  // plain text prefix, not a path component
        {"/home/uLibrary", false},
    };
    // A home folder inside a system folder is still the user's; its neighbours are not.
    for (const std::string home : {"/var/lib/svc", "/var/lib/svc/"}) {
        EXPECT_FALSE(cb::isProtectedLocation("/var/lib/svc", home));
        EXPECT_FALSE(cb::isProtectedLocation("/var/lib/svc/Library/Caches", home));
        EXPECT_TRUE(cb::isProtectedLocation("/var/lib/svc2", home));
        EXPECT_TRUE(cb::isProtectedLocation("/var/lib", home));
    }
    // With "/" as the home folder the volume keeps its rule.
    EXPECT_TRUE(cb::isProtectedLocation("/", "/"));
    EXPECT_TRUE(cb::isProtectedLocation("/usr/lib", "/"));
    // The home folder as $HOME may give it, trailing slashes and all.
    const char* savedHome = std::getenv("HOME");
    const std::string restore = savedHome != nullptr ? savedHome : "";
    for (const std::string home : {"/home/u", "/home/u/", "/home/u//"}) {
        ::setenv("HOME", home.c_str(), 1);
        for (const Case& c : cases) {
            EXPECT_EQ(cb::isProtectedLocation(c.path, home), c.isProtected)
                << c.path << " " << home;
            EXPECT_EQ(cb::isProtectedLocation(c.path), c.isProtected)
                << c.path << " $HOME " << home;
        }
    }
    if (savedHome != nullptr) {
        ::setenv("HOME", restore.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

TEST(FullDiskAccessTest, ProbesNeedOneExistingListableFolder) {
    cb::testsupport::TempDir dir("cb-fda");
    cb::testsupport::makeDir(dir / "empty", 0755);
    cb::testsupport::makeDir(dir / "full", 0755);
    cb::testsupport::writeText(dir / "full" / "f", "x");
    cb::testsupport::makeUnreadableDir(dir / "locked");
    cb::testsupport::writeText(dir / "file", "not a folder");
    const fs::path missing = dir / "missing";

    EXPECT_FALSE(cb::hasFullDiskAccess({}));
    EXPECT_FALSE(cb::hasFullDiskAccess({missing, dir / "file"}));
    EXPECT_TRUE(cb::hasFullDiskAccess({missing, missing, missing, dir / "full"}));
    EXPECT_TRUE(cb::hasFullDiskAccess({dir / "empty"}));

    // Permission checks apply to an ordinary user only.
    dir.openToEveryone();
    auto child = cb::testsupport::runUnprivileged([&] {
        std::string answers;
        answers += cb::hasFullDiskAccess({dir / "locked", missing}) ? "1" : "0";
        answers += cb::hasFullDiskAccess({dir / "locked", dir / "empty"}) ? "1" : "0";
        answers += cb::hasFullDiskAccess() ? "1" : "0";
        return answers;
    });
    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output, "010");
}

TEST(FullDiskAccessTest, AnOrdinaryUserMayScanTheirHomeAtOnceButNotTheVolume) {
    // What the scan gate asks, as an ordinary user whose home folder is their own.
    cb::testsupport::TempDir dir("cb-fda-home");
    const fs::path home = dir / "home";
    cb::testsupport::makeDir(home, 0700);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
    }
    dir.openToEveryone();
    auto child = cb::testsupport::runUnprivileged([&] {
        ::setenv("HOME", home.c_str(), 1);
        cb::testsupport::makeDir(home / "Library" / "Caches", 0700);
        std::string answers;
        for (const fs::path& location : {home, home / "Library", home / "Library" / "Caches"})
            answers += cb::isProtectedLocation(location) ? "1" : "0";
        answers += cb::isProtectedLocation("/") ? "1" : "0";
        answers += cb::hasFullDiskAccess() ? "1" : "0";
        return answers;
    });
    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output, "00010");  // home scanned at once; "/" held for the prompt
}

TEST(FullDiskAccessTest, EachSystemProbeIsListableByRootAndByNoOrdinaryUser) {
    // A probe an ordinary user can list would grant "access" to everyone; one root cannot list
    // (missing here) would never count.
    const std::vector<fs::path> probes = cb::fullDiskAccessProbePaths();
    ASSERT_FALSE(probes.empty());
    auto child = cb::testsupport::runUnprivileged([&] {
        std::string answers;
        for (const fs::path& probe : probes)
            answers += cb::hasFullDiskAccess({probe}) ? "1" : "0";
        return answers;
    });
    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output, std::string(probes.size(), '0'));
    if (::geteuid() == 0) {
        for (const fs::path& probe : probes)
            EXPECT_TRUE(cb::hasFullDiskAccess({probe})) << probe;
    }
}

// Records what it is asked to open.
class RecordingWorkspace : public platform::Workspace {
  public:
    std::vector<std::string> opened;
    bool openUrl(const std::string& url) override {
        opened.push_back(url);
        return false;  // a failed open must change nothing
    }
};

TEST(FullDiskAccessTest, SettingsLinksOpenTheirPanes) {
    RecordingWorkspace workspace;
    cb::openFullDiskAccessSettings(workspace);
    cb::openAppManagementSettings(workspace);
    EXPECT_EQ(workspace.opened,
              (std::vector<std::string>{
                  "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?"
                  "Privacy_AllFiles",
                  "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?"
                  "Privacy_AppBundles"}));
    // Without a graphical application the real workspace does nothing at all.
    cb::openFullDiskAccessSettings();
}

}  // namespace
