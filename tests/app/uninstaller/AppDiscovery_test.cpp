#include "app/uninstaller/AppDiscovery.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>

#include "app/uninstaller/AppLocations.h"
#include "tests/app/uninstaller/AppFixtures.h"
#include "tests/platform/preferences/HostilePlists.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
namespace ts = cb::testsupport;
using platform::PlistDictionary;

std::vector<std::string> urlsOf(const std::vector<std::shared_ptr<InstalledApp>>& apps,
                                const fs::path& base) {
    std::vector<std::string> urls;
    for (const auto& app : apps) {
        urls.push_back(app->url().lexically_relative(base).string());
    }
    return urls;
}

std::vector<std::string> namesOf(const std::vector<std::shared_ptr<InstalledApp>>& apps) {
    std::vector<std::string> names;
    for (const auto& app : apps) {
        names.push_back(app->name());
    }
    return names;
}

// Points the applications root and $HOME at fixture folders for one test.
class DiscoveryTest : public ::testing::Test {
  protected:
    DiscoveryTest()
        : saved_(AppLocations::TEST_setCurrent({dir_ / "Applications", dir_ / "Library"})),
          home_("HOME", (dir_ / "home").string()) {
        ts::makeDir(dir_ / "Applications");
        ts::makeDir(dir_ / "home");
    }
    ~DiscoveryTest() override { AppLocations::TEST_setCurrent(saved_); }

    fs::path root() const { return dir_ / "Applications"; }
    fs::path homeApps() const { return dir_ / "home" / "Applications"; }

    ts::TempDir dir_;
    AppLocations saved_;
    ts::ScopedEnv home_;
};

TEST_F(DiscoveryTest, ListsBundlesToThreeLevelsWithoutLinksHiddenEntriesOrNestedBundles) {
    const fs::path r = root();
    ts::makeAppBundle(r / "X.app", "com.example.x");
    ts::makeAppBundle(r / "Utilities" / "X.app", "com.example.utilities.x");
    ts::makeAppBundle(r / "A" / "B" / "X.app", "com.example.ab.x");
    ts::makeAppBundle(r / "A" / "B" / "C" / "X.app", "com.example.too.deep");
    ts::makeAppBundle(r / "Outer.app", "com.example.outer");
    ts::makeAppBundle(r / "Outer.app" / "Contents" / "Inner.app", "com.example.inner");
    ts::makeSymlink(r / "X.app", r / "Tool.app");
    ts::makeAppBundle(dir_ / "elsewhere" / "Behind.app", "com.example.behind");
    ts::makeSymlink(dir_ / "elsewhere", r / "Linked");
    ts::makeAppBundle(r / ".Hidden.app", "com.example.hidden");
    ts::makeAppBundle(r / "Hidden" / ".Inside.app", "com.example.hidden.inside");
    ts::writeText(r / "Y.app", "a plain file");
    ts::makeAppBundle(r / "NoIdentifier.app", PlistDictionary{{"CFBundleName", "No"}});
    ts::makeAppBundle(r / "EmptyIdentifier.app", "");
    ts::makeAppBundle(r / "Upper.APP", "com.example.upper");

    std::vector<std::string> found = urlsOf(listInstalledApps(), r);
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"A/B/X.app", "Outer.app", "Upper.APP",
                                               "Utilities/X.app", "X.app"}));
}

// A bundle anyone may drop into an applications folder, whose Info.plist would crash the reader
// or take gigabytes if it were built, is left out; the others are listed.
TEST_F(DiscoveryTest, ABundleWithAHostileInfoPlistIsLeftOut) {
    const fs::path r = root();
    ts::makeAppBundle(r / "Good.app", "com.example.good");
    ts::writeText(r / "Deep.app/Contents/Info.plist", platform::hostile::deepXml(200000));
    ts::writeText(r / "Shared.app/Contents/Info.plist", platform::hostile::sharedReferences(24));
    EXPECT_EQ(urlsOf(listInstalledApps(), r), std::vector<std::string>{"Good.app"});
}

TEST_F(DiscoveryTest, FollowsTheFoldersGiven) {
    ts::makeAppBundle(root() / "Same.app", "com.example.same");
    ts::makeAppBundle(homeApps() / "Same.app", "com.example.same");
    ts::makeAppBundle(homeApps() / "Other.app", "com.example.other");

    EXPECT_TRUE(listInstalledApps(std::vector<fs::path>{}).empty());
    // The same folder twice, once spelt with a trailing slash: each bundle once.
    EXPECT_EQ(
        urlsOf(listInstalledApps(std::vector<fs::path>{root(), root().string() + "/"}), root()),
        std::vector<std::string>{"Same.app"});
    // Both roots: the copy in the applications root first (equal names keep discovery order).
    EXPECT_EQ(urlsOf(listInstalledApps(), dir_.path()),
              (std::vector<std::string>{"home/Applications/Other.app", "Applications/Same.app",
                                        "home/Applications/Same.app"}));
}

TEST_F(DiscoveryTest, TheHomeFolderCountsOnlyWhenSomethingIsThere) {
    fs::remove(dir_ / "Applications");
    EXPECT_EQ(defaultAppFolders(), std::vector<fs::path>{root()});  // the root, even missing
    ts::makeSymlink(dir_ / "elsewhere", homeApps());
    EXPECT_EQ(defaultAppFolders(), std::vector<fs::path>{root()});  // a dangling link is nothing
    ts::makeDir(dir_ / "elsewhere");
    EXPECT_EQ(defaultAppFolders(), (std::vector<fs::path>{root(), homeApps()}));
    ts::ScopedEnv noHome("HOME", "");
    EXPECT_EQ(defaultAppFolders(), std::vector<fs::path>{root()});
}

TEST_F(DiscoveryTest, ARootMayBeALink) {
    ts::makeAppBundle(dir_ / "real" / "X.app", "com.example.x");
    ts::makeSymlink(dir_ / "real", dir_ / "link");
    EXPECT_EQ(listInstalledApps(std::vector<fs::path>{dir_ / "link"}).size(), 1u);
}

TEST_F(DiscoveryTest, NamesAndVersionsComeFromTheInfoPlistInEitherForm) {
    struct Case {
        PlistDictionary info;
        std::string name;
        std::optional<std::string> version;
    };
    const Case cases[] = {
        {{{"CFBundleDisplayName", "Display"}, {"CFBundleName", "Short"}}, "Display", std::nullopt},
        {{{"CFBundleDisplayName", ""}, {"CFBundleName", "Short"}}, "", std::nullopt},
        {{{"CFBundleDisplayName", int64_t{3}}, {"CFBundleName", "Short"}}, "Short", std::nullopt},
        {{}, "File Name", std::nullopt},
        {{{"CFBundleShortVersionString", "1.2"}, {"CFBundleVersion", "345"}}, "File Name", "1.2"},
        {{{"CFBundleShortVersionString", true}, {"CFBundleVersion", "345"}}, "File Name", "345"},
        {{{"CFBundleShortVersionString", ""}}, "File Name", ""},
    };
    for (bool binary : {false, true}) {
        for (const Case& c : cases) {
            PlistDictionary info = c.info;
            info.emplace("CFBundleIdentifier", "com.example.named");
            ts::TempDir dir;
            std::shared_ptr<InstalledApp> app =
                makeInstalledApp(ts::makeAppBundle(dir / "File Name.app", info, binary));
            ASSERT_NE(app, nullptr);
            EXPECT_EQ(app->name(), c.name) << binary;
            EXPECT_EQ(app->version(), c.version) << binary;
            EXPECT_EQ(app->bundleID(), "com.example.named");
            EXPECT_EQ(app->bundleSize(), 0);
        }
    }
    EXPECT_EQ(makeInstalledApp(dir_ / "Missing.app"), nullptr);
}

TEST_F(DiscoveryTest, SortsByNameIgnoringCase) {
    for (const char* name : {"cherry", "Banana", "apple"}) {
        ts::makeAppBundle(
            root() / (std::string(name) + ".app"),
            PlistDictionary{{"CFBundleIdentifier", std::string("com.example.") + name},
                            {"CFBundleName", name}});
    }
    EXPECT_EQ(namesOf(listInstalledApps()),
              (std::vector<std::string>{"apple", "Banana", "cherry"}));
}

TEST_F(DiscoveryTest, LastOpenedIsTheExecutablesAccessTimeElseTheBundles) {
    const fs::path withExe = ts::makeAppBundle(
        root() / "Run.app",
        PlistDictionary{{"CFBundleIdentifier", "com.example.run"}, {"CFBundleExecutable", "run"}});
    ts::writeText(withExe / "Contents" / "MacOS" / "run", "#!/bin/sh\n");
    ts::setAccessTime(withExe / "Contents" / "MacOS" / "run", 1'700'000'000, 250'000'000);
    ts::setAccessTime(withExe, 1'600'000'000);

    const fs::path missingExe = ts::makeAppBundle(
        root() / "Gone.app", PlistDictionary{{"CFBundleIdentifier", "com.example.gone"},
                                             {"CFBundleExecutable", "gone"}});
    ts::setAccessTime(missingExe, 1'500'000'000);
    const fs::path noExe = ts::makeAppBundle(root() / "Plain.app", "com.example.plain");
    ts::setAccessTime(noExe, 1'400'000'000);

    using namespace std::chrono;
    const auto at = [](int64_t s, int64_t ns = 0) {
        return std::optional<InstalledApp::Date>(time_point_cast<InstalledApp::Date::duration>(
            sys_seconds(seconds(s)) + nanoseconds(ns)));
    };
    EXPECT_EQ(lastOpenedDate(withExe), at(1'700'000'000, 250'000'000));
    EXPECT_EQ(lastOpenedDate(missingExe), at(1'500'000'000));
    EXPECT_EQ(lastOpenedDate(noExe), at(1'400'000'000));
    EXPECT_EQ(lastOpenedDate(dir_ / "Missing.app"), std::nullopt);
    EXPECT_EQ(makeInstalledApp(withExe)->lastOpened(), at(1'700'000'000, 250'000'000));
}

TEST_F(DiscoveryTest, TheIconIsTheNamedResourceKeptAtMost256Pixels) {
    const auto png = [](const fs::path& path, int width, int height) {
        ts::makeDir(path.parent_path());
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(QString::fromStdString(path.string()), "PNG"));
    };
    struct Case {
        const char* iconFile;  // CFBundleIconFile, or null
        QSize expected;        // invalid: no icon
    };
    const Case cases[] = {
        {"AppIcon", QSize(256, 128)},   // ".png" added; 1024 x 512 scaled down, aspect kept
        {"Small.png", QSize(32, 32)},   // as written
        {"Broken", QSize(64, 64)},      // "Broken" is not a picture, "Broken.png" is
        {"../../../outside", QSize()},  // not a name inside Resources
        {"Missing", QSize()},          {nullptr, QSize()},
    };
    int n = 0;
    for (const Case& c : cases) {
        PlistDictionary info{{"CFBundleIdentifier", "com.example.icon"}};
        if (c.iconFile != nullptr) {
            info.emplace("CFBundleIconFile", c.iconFile);
        }
        const fs::path bundle =
            ts::makeAppBundle(root() / ("I" + std::to_string(n++) + ".app"), info);
        const fs::path resources = bundle / "Contents" / "Resources";
        png(resources / "AppIcon.png", 1024, 512);
        png(resources / "Small.png", 32, 32);
        ts::writeText(resources / "Broken", "not a picture");
        png(resources / "Broken.png", 64, 64);
        png(root() / "outside", 16, 16);
        png(root() / "outside.png", 16, 16);
        std::shared_ptr<InstalledApp> app = makeInstalledApp(bundle);
        ASSERT_NE(app, nullptr);
        EXPECT_EQ(app->icon().isNull(), !c.expected.isValid()) << n;
        if (c.expected.isValid()) {
            EXPECT_EQ(app->icon().size(), c.expected) << n;
        }
    }
}

}  // namespace
}  // namespace cb
