#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "app/uninstaller/AllocatedSize.h"
#include "app/uninstaller/AppLocations.h"
#include "app/uninstaller/AppRelatedFiles.h"
#include "app/uninstaller/RelatedFilesSupport.h"
#include "platform/preferences/PlistCodec.h"
#include "tests/app/uninstaller/AppFixtures.h"
#include "tests/platform/preferences/HostilePlists.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace cb::AppRelatedFiles {
namespace {

namespace fs = std::filesystem;
namespace ts = cb::testsupport;
using platform::PlistArray;
using platform::PlistDictionary;
using Row = std::tuple<std::string, RelatedCategory, bool>;
using C = RelatedCategory;

constexpr const char* kUuid = "6B29FC40-CA47-1067-B31D-00DD010662DA";
constexpr const char* kHostUuid = "01234567-89ab-CDEF-0123-456789abcdef";

// A home Library ("home/Library") and a machine Library ("Library") around the application
// Foo.app ("com.example.foo", group "TEAM.group.shared", helper "com.example.foo.helper"), with
// items that belong to it and look-alikes that do not.
class LibraryScanTest : public ::testing::Test {
  protected:
    LibraryScanTest() {
        ts::makeSignedAppBundle(
            app(), "com.example.foo", {"TEAM.group.shared"},
            PlistDictionary{{"SMPrivilegedExecutables",
                             PlistDictionary{{"com.example.foo.helper", "anchor apple"}}}});
        makeHomeItems(dir_ / "home/Library");
        makeLookAlikes(dir_ / "home/Library");
        const fs::path machine = dir_ / "Library";
        ts::writeText(machine / "Preferences/com.example.foo.plist", "x");
        ts::writeText(machine / "PrivilegedHelperTools/com.example.foo.helper", "tool");
        writePlist(machine / "LaunchDaemons/com.example.foo.helper.plist",
                   {{"Label", "com.example.foo.helper"}});
    }

    fs::path app() const { return dir_ / "Applications/Foo.app"; }
    fs::path home() const { return dir_ / "home"; }
    fs::path library() const { return dir_ / "Library"; }

    static void writePlist(const fs::path& path, const PlistDictionary& contents) {
        ts::writeText(path, platform::encodeXmlPlist(contents));
    }

    void makeHomeItems(const fs::path& lib) {
        ts::writeText(lib / "Preferences/com.example.foo.plist", "x");
        ts::writeText(
            lib / "Preferences/ByHost" / ("com.example.foo." + std::string(kHostUuid) + ".plist"),
            "x");
        ts::makeFile(lib / "Application Support/foo/data", 5000);
        ts::makeDir(lib / "Application Support/Vendor/Foo");
        ts::makeDir(lib / "Caches/com.example.foo");
        ts::makeDir(lib / "Logs/com.example.foo");
        ts::writeText(lib / "Containers" / kUuid / ".com.apple.containermanagerd.metadata.plist",
                      platform::encodeBinaryPlist(
                          PlistDictionary{{"MCMMetadataIdentifier", "com.example.foo"}}));
        ts::makeDir(lib / "Group Containers/TEAM.com.example.foo");
        ts::makeDir(lib / "Group Containers/TEAM.group.shared");
        ts::makeDir(lib / "Application Scripts/TEAM.group.shared");
        ts::makeDir(lib / "Saved Application State/com.example.foo.savedState");
        ts::writeText(lib / "Cookies/com.example.foo.binarycookies", "x");
        ts::makeDir(lib / "WebKit/com.example.foo");
        ts::writeText(lib / "HTTPStorages/com.example.foo.binarycookies", "x");
        writePlist(lib / "LaunchAgents/agent-by-label.plist", {{"Label", "com.example.foo"}});
        writePlist(lib / "LaunchAgents/agent-by-program.plist",
                   {{"Label", "com.other"},
                    {"ProgramArguments",
                     PlistArray{(app() / "Contents/MacOS/../MacOS/main").string(), "-x"}}});
    }

    void makeLookAlikes(const fs::path& lib) {
        ts::writeText(lib / "Preferences/COM.EXAMPLE.FOO.plist", "x");
        ts::writeText(lib / "Preferences/ByHost/com.example.foo.not-a-uuid.plist", "x");
        ts::writeText(lib / "Preferences/ByHost" / ("com.example.foo." + std::string(kHostUuid)),
                      "x");
        ts::writeText(
            lib / "Preferences/ByHost" / ("com.example.foo.{" + std::string(kHostUuid) + "}.plist"),
            "x");
        ts::makeDir(lib / "Caches/Vendor/com.example.foo");
        ts::makeDir(dir_ / "elsewhere/Foo");
        ts::makeSymlink(dir_ / "elsewhere", lib / "Application Support/LinkedVendor");
        const std::string damagedUuid = "00000000-0000-0000-0000-000000000001";
        ts::writeText(
            lib / "Containers" / damagedUuid / ".com.apple.containermanagerd.metadata.plist",
            "<plist><dict><key>MCMMetadataIdentifier</key>");
        ts::makeDir(lib / "Group Containers/TEAMcom.example.foo");
        writePlist(lib / "LaunchAgents/relative.plist",
                   {{"Program", "Applications/Foo.app/Contents/MacOS/main"}});
        writePlist(lib / "LaunchAgents/bundle-itself.plist", {{"Program", app().string()}});
        writePlist(lib / "LaunchAgents/sibling.plist",
                   {{"ProgramArguments",
                     PlistArray{(dir_ / "Applications/Foo.app2/Contents/MacOS/main").string()}}});
        writePlist(lib / "LaunchAgents/escapes.plist",
                   {{"Program", (app() / "../Other.app/Contents/MacOS/main").string()}});
        writePlist(lib / "LaunchAgents/not-a-plist.txt", {{"Label", "com.example.foo"}});
        ts::writeText(lib / "Preferences/.plist", "x");
        // Named pipes are passed over, never opened (an open would wait for a writer).
        ts::makeFifo(lib / "LaunchAgents/pipe.plist");
        ts::makeDir(lib / "Containers/00000000-0000-0000-0000-000000000002");
        ts::makeFifo(lib / "Containers/00000000-0000-0000-0000-000000000002" /
                     ".com.apple.containermanagerd.metadata.plist");
    }

    // The result as rows of (path relative to the fixture, category, isShared), checking on the
    // way that every size is the item's allocated size.
    std::vector<Row> rowsOf(const std::vector<RelatedFile>& files) const {
        std::vector<Row> rows;
        for (const RelatedFile& file : files) {
            EXPECT_EQ(file.size, allocatedSize(file.url)) << file.url;
            rows.emplace_back(file.url.lexically_relative(dir_.path()).string(), file.category,
                              file.isShared);
        }
        return rows;
    }

    ts::TempDir dir_;
};

TEST_F(LibraryScanTest, FindsWhatBelongsToTheApplicationInPathOrder) {
    const Identity identity = buildIdentity("com.example.foo", "Foo", app());
    const std::vector<Row> expected = {
        {"Library/LaunchDaemons/com.example.foo.helper.plist", C::launchDaemons, false},
        {"Library/Preferences/com.example.foo.plist", C::preferences, false},
        {"Library/PrivilegedHelperTools/com.example.foo.helper", C::privilegedHelpers, false},
        {"home/Library/Application Scripts/TEAM.group.shared", C::applicationScripts, true},
        {"home/Library/Application Support/Vendor/Foo", C::applicationSupport, false},
        {"home/Library/Application Support/foo", C::applicationSupport, false},
        {"home/Library/Caches/com.example.foo", C::caches, false},
        {"home/Library/Containers/" + std::string(kUuid), C::containers, false},
        {"home/Library/Cookies/com.example.foo.binarycookies", C::cookies, false},
        {"home/Library/Group Containers/TEAM.com.example.foo", C::groupContainers, true},
        {"home/Library/Group Containers/TEAM.group.shared", C::groupContainers, true},
        {"home/Library/HTTPStorages/com.example.foo.binarycookies", C::httpStorages, false},
        {"home/Library/LaunchAgents/agent-by-label.plist", C::launchAgents, false},
        {"home/Library/LaunchAgents/agent-by-program.plist", C::launchAgents, false},
        {"home/Library/Logs/com.example.foo", C::logs, false},
        {"home/Library/Preferences/ByHost/com.example.foo." + std::string(kHostUuid) + ".plist",
         C::preferences, false},
        {"home/Library/Preferences/com.example.foo.plist", C::preferences, false},
        {"home/Library/Saved Application State/com.example.foo.savedState", C::savedState, false},
        {"home/Library/WebKit/com.example.foo", C::webkit, false},
    };
    EXPECT_EQ(rowsOf(scanLibrary(identity, home(), library())), expected);
}

TEST_F(LibraryScanTest, AnEmptyIdentifierMatchesNothing) {
    // Without a bundle only the name can match; ".plist" would be "" + ".plist".
    const Identity identity = buildIdentity("", "Foo", std::nullopt);
    const std::vector<Row> expected = {
        {"home/Library/Application Support/Vendor/Foo", C::applicationSupport, false},
        {"home/Library/Application Support/foo", C::applicationSupport, false},
    };
    EXPECT_EQ(rowsOf(scanLibrary(identity, home(), library())), expected);
}

TEST_F(LibraryScanTest, AnItemReachedFromBothRootsIsListedOnce) {
    // $HOME/Library is the machine Library itself, reached under another spelling; each item is
    // kept as the home root reached it.
    const fs::path homeRoot = dir_ / "home/.";
    const std::vector<RelatedFile> files = scanLibrary(
        buildIdentity("com.example.foo", "Foo", app()), homeRoot, dir_ / "home/Library");
    std::set<std::string> paths;
    for (const RelatedFile& file : files) {
        paths.insert(standardisedPath(file.url));
        EXPECT_TRUE(file.url.string().starts_with(homeRoot.string() + "/Library/")) << file.url;
    }
    EXPECT_EQ(files.size(), 16u);  // the home Library's items of the table above
    EXPECT_EQ(paths.size(), files.size());
}

TEST_F(LibraryScanTest, FindSearchesHomeAndTheMachineLibraryInForce) {
    const AppLocations saved = AppLocations::TEST_setCurrent({dir_ / "Applications", library()});
    const ts::ScopedEnv homeEnv("HOME", home().string());
    const std::vector<RelatedFile> found = find("com.example.foo", "Foo", app());
    AppLocations::TEST_setCurrent(saved);
    EXPECT_EQ(rowsOf(found), rowsOf(scanLibrary(buildIdentity("com.example.foo", "Foo", app()),
                                                home(), library())));
    EXPECT_EQ(found.size(), 19u);
}

// Property lists anyone may drop into a Library that would crash the reader or take gigabytes
// if it built them: the search goes on past them and finds the rest.
TEST_F(LibraryScanTest, HostilePropertyListsAreSkipped) {
    const fs::path lib = dir_ / "home/Library";
    ts::writeText(lib / "LaunchAgents/deep.plist", platform::hostile::deepXml(200000));
    ts::writeText(lib / "LaunchAgents/shared.plist", platform::hostile::sharedReferences(24));
    ts::writeText(lib / "Containers/00000000-0000-0000-0000-000000000003" /
                      ".com.apple.containermanagerd.metadata.plist",
                  platform::hostile::deepXml(200000));
    ts::writeText(lib / "Containers/00000000-0000-0000-0000-000000000004" /
                      ".com.apple.containermanagerd.metadata.plist",
                  platform::hostile::sharedReferences(24));
    EXPECT_EQ(rowsOf(scanLibrary(buildIdentity("com.example.foo", "Foo", app()), home(), library()))
                  .size(),
              19u);
}

TEST_F(LibraryScanTest, AStopEndsTheSearchEarly) {
    const std::atomic<bool> stop{true};
    EXPECT_TRUE(
        scanLibrary(buildIdentity("com.example.foo", "Foo", app()), home(), library(), &stop)
            .empty());
}

// The rules that decide by name alone, one entry at a time.
TEST(MatchRulesTest, CompareNamesAsTheRulesSay) {
    Identity identity;
    identity.bundleIDs = {"com.example.foo", "", "com.example.caf\xC3\xA9"};
    identity.names = {"Foo",
                      "Stra\xC3\x9F"
                      "e",
                      ""};
    identity.groupIDs = {"TEAM.group"};
    identity.privilegedHelperIDs = {"com.example.foo.helper"};
    using R = MatchRule;
    const std::tuple<const char*, R, bool> cases[] = {
        {"com.example.foo", R::exactBundleID, true},
        {"COM.EXAMPLE.FOO", R::exactBundleID, false},
        {"Foo", R::exactBundleID, false},
        {"fOO", R::bundleIDOrName, true},
        {"STRASSE", R::bundleIDOrName, true},  // full case folding
        {"Foo ", R::bundleIDOrName, false},
        {"com.example.foo.plist", R::preferencesPlist, true},
        {"com.example.cafe\xCC\x81.plist", R::preferencesPlist, true},  // decomposed é
        {".plist", R::preferencesPlist, false},
        {"com.example.foo", R::preferencesPlist, false},
        {"com.example.foo.6B29FC40-CA47-1067-B31D-00DD010662DA.plist", R::byHostPlist, true},
        {"com.example.foo.6B29FC40CA471067B31D00DD010662DA.plist", R::byHostPlist, false},
        {"com.example.foo.plist", R::byHostPlist, false},
        {".6B29FC40-CA47-1067-B31D-00DD010662DA.plist", R::byHostPlist, false},
        {"com.example.foo", R::containerFolder, true},
        {"6B29FC40-CA47-1067-B31D-00DD010662DA", R::containerFolder, false},  // no metadata
        {"TEAM.group", R::groupContainerFolder, true},
        {"com.example.foo", R::groupContainerFolder, true},
        {"X1.com.example.foo", R::groupContainerFolder, true},
        {"X1com.example.foo", R::groupContainerFolder, false},
        {"anything.", R::groupContainerFolder, false},
        {"TEAM.group", R::scriptsFolder, true},
        {"com.example.foo", R::scriptsFolder, true},
        {"com.example.foo.savedState", R::savedStateFolder, true},
        {"com.example.foo.savedstate", R::savedStateFolder, false},
        {"com.example.foo.binarycookies", R::cookiesFile, true},
        {"com.example.foo", R::cookiesFile, false},
        {"com.example.foo", R::httpStorageEntry, true},
        {"com.example.foo.binarycookies", R::httpStorageEntry, true},
        {"com.example.foo.plist", R::launchdPlist, true},
        {"com.example.foo.helper", R::helperTool, true},
        {"com.example.foo", R::helperTool, false},
        {"", R::exactBundleID, false},
    };
    for (const auto& [name, rule, expected] : cases) {
        EXPECT_EQ(matches(fs::path("/nowhere") / name, identity, rule), expected)
            << name << " under rule " << static_cast<int>(rule);
    }
}

}  // namespace
}  // namespace cb::AppRelatedFiles
