#include "platform/bundle/Bundle.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/preferences/PlistCodec.h"
#include "tests/platform/preferences/TemporaryFolder.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

fs::path makeBundle(const fs::path& folder, const std::string& name, const std::string& info) {
    fs::path bundle = folder / name;
    fs::create_directories(bundle / "Contents" / "MacOS");
    std::ofstream(bundle / "Contents" / "Info.plist", std::ios::binary) << info;
    return bundle;
}

TEST(BundleTest, ReadsInfoPlistInEitherForm) {
    TemporaryFolder folder;
    PlistDictionary info{{"CFBundleIdentifier", "com.example.Notes"},
                         {"CFBundleName", "Notes"},
                         {"LSUIElement", true}};
    for (const std::string& bytes : {encodeXmlPlist(info), encodeBinaryPlist(info)}) {
        fs::path path = makeBundle(folder.path(), "Notes.app", bytes);
        std::optional<Bundle> bundle = Bundle::open(path);
        ASSERT_TRUE(bundle.has_value());
        EXPECT_EQ(bundle->identifier(), "com.example.Notes");
        EXPECT_EQ(bundle->infoString("CFBundleName"), "Notes");
        EXPECT_EQ(bundle->infoString("LSUIElement"), std::nullopt);  // not a string
        EXPECT_EQ(bundle->infoString("Missing"), std::nullopt);
        EXPECT_EQ(bundle->info().at("LSUIElement"), PlistValue(true));
        EXPECT_EQ(bundle->resourcesPath(), path / "Contents" / "Resources");
    }
}

TEST(BundleTest, RefusesBundlesWithoutAUsableInfoPlist) {
    TemporaryFolder folder;
    fs::create_directories(folder.path() / "Empty.app" / "Contents");
    EXPECT_FALSE(Bundle::open(folder.path() / "Empty.app").has_value());
    EXPECT_FALSE(Bundle::open(makeBundle(folder.path(), "Junk.app", "junk")).has_value());
    EXPECT_FALSE(Bundle::open(makeBundle(folder.path(), "List.app", encodeXmlPlist(PlistArray{1})))
                     .has_value());
    fs::create_directories(folder.path() / "Pipe.app" / "Contents");
    ASSERT_EQ(::mkfifo((folder.path() / "Pipe.app" / "Contents" / "Info.plist").c_str(), 0600), 0);
    EXPECT_FALSE(Bundle::open(folder.path() / "Pipe.app").has_value());  // and does not block
    std::optional<Bundle> noIdentifier = Bundle::open(makeBundle(
        folder.path(), "Blank.app", encodeXmlPlist(PlistDictionary{{"CFBundleIdentifier", ""}})));
    ASSERT_TRUE(noIdentifier.has_value());
    EXPECT_EQ(noIdentifier->identifier(), std::nullopt);
}

TEST(BundleTest, FindsTheBundleOfAnExecutableByItsPathShape) {
    struct Case {
        const char* executable;
        std::optional<fs::path> bundle;
    };
    const Case cases[] = {
        {"/opt/Cellarbright.app/Contents/MacOS/cellarbright", "/opt/Cellarbright.app"},
        {"/opt/build/cellarbright", std::nullopt},
        {"/opt/Cellarbright/Contents/MacOS/cellarbright", std::nullopt},
        {"/opt/Cellarbright.app/Contents/bin/cellarbright", std::nullopt},
        {"/.app/Contents/MacOS/x", std::nullopt},
        {"/opt/Tool.APP/Contents/MacOS/tool", "/opt/Tool.APP"},
        {"/opt/Tool.apps/Contents/MacOS/tool", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Bundle::bundlePathOfExecutable(c.executable), c.bundle) << c.executable;
    }
}

TEST(BundleTest, TheExecutableMustBeOneNameInsideContentsMacOS) {
    TemporaryFolder folder;
    struct Case {
        std::optional<PlistValue> executable;
        std::optional<std::string> expected;  // relative to Contents/MacOS
    };
    const Case cases[] = {
        {PlistValue("fixture"), "fixture"},    {PlistValue("My Tool"), "My Tool"},
        {std::nullopt, std::nullopt},          {PlistValue(int64_t{7}), std::nullopt},
        {PlistValue(""), std::nullopt},        {PlistValue("."), std::nullopt},
        {PlistValue(".."), std::nullopt},      {PlistValue("../../../../bin/sh"), std::nullopt},
        {PlistValue("/bin/sh"), std::nullopt},
    };
    int n = 0;
    for (const Case& c : cases) {
        PlistDictionary info{{"CFBundleIdentifier", "com.example.Tool"}};
        if (c.executable) {
            info.emplace("CFBundleExecutable", *c.executable);
        }
        fs::path path =
            makeBundle(folder.path(), "T" + std::to_string(n++) + ".app", encodeBinaryPlist(info));
        std::optional<Bundle> bundle = Bundle::open(path);
        ASSERT_TRUE(bundle.has_value());
        std::optional<fs::path> expected;
        if (c.expected) {
            expected = path / "Contents" / "MacOS" / *c.expected;
        }
        EXPECT_EQ(bundle->executablePath(), expected) << n;
    }
}

TEST(BundleTest, OutsideABundleTheMainIdentifierIsTheFallback) {
    EXPECT_FALSE(Bundle::main().has_value());
    EXPECT_EQ(Bundle::mainBundleIdentifier(), kFallbackBundleIdentifier);
}

TEST(BundleTest, TheTestHookReplacesTheMainBundleAndRestoresIt) {
    TemporaryFolder folder;
    fs::path fixture =
        makeBundle(folder.path(), "Fixture.app",
                   encodeXmlPlist(PlistDictionary{{"CFBundleIdentifier", "com.example.Fixture"}}));
    Bundle::TEST_setMainBundle(fixture);
    ASSERT_TRUE(Bundle::main().has_value());
    EXPECT_EQ(Bundle::main()->bundlePath(), fixture);
    EXPECT_EQ(Bundle::mainBundleIdentifier(), "com.example.Fixture");

    Bundle::TEST_setMainBundle(folder.path() / "Missing.app");  // unopenable: no bundle at all
    EXPECT_FALSE(Bundle::main().has_value());
    EXPECT_EQ(Bundle::mainBundleIdentifier(), kFallbackBundleIdentifier);

    Bundle::TEST_setMainBundle(std::nullopt);
    EXPECT_FALSE(Bundle::main().has_value());  // the test binary runs outside any bundle
}

// Runs `executable` with only the child test below and returns what it printed.
std::string runChild(const fs::path& executable) {
    std::string command =
        "CB_BUNDLE_CHILD=1 '" + executable.string() + "' --gtest_filter=BundleChildProcess.* 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 256> buffer{};
        while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
            output += buffer.data();
        }
        pclose(pipe);
    }
    return output;
}

TEST(BundleTest, AProgramStartedFromABundleFindsItsOwnIdentifier) {
    TemporaryFolder folder;
    fs::path bundle =
        makeBundle(folder.path(), "Probe.app",
                   encodeXmlPlist(PlistDictionary{{"CFBundleIdentifier", "com.example.Probe"}}));
    fs::path copy = bundle / "Contents" / "MacOS" / "probe";
    fs::copy_file(fs::read_symlink("/proc/self/exe"), copy);
    std::string output = runChild(copy);
    EXPECT_NE(output.find("main bundle: com.example.Probe at " + bundle.string()),
              std::string::npos)
        << output;
}

// Runs only when started by runChild(): reports the bundle this process runs from.
TEST(BundleChildProcess, ReportsTheMainBundle) {
    if (std::getenv("CB_BUNDLE_CHILD") == nullptr) {
        GTEST_SKIP() << "helper of BundleTest";
    }
    const std::optional<Bundle>& bundle = Bundle::main();
    std::printf("main bundle: %s at %s\n", Bundle::mainBundleIdentifier().c_str(),
                bundle ? bundle->bundlePath().c_str() : "(none)");
}

}  // namespace
}  // namespace platform
