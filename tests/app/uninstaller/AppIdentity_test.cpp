#include <gtest/gtest.h>

#include "app/uninstaller/AppRelatedFiles.h"
#include "platform/preferences/PlistCodec.h"
#include "tests/app/uninstaller/AppFixtures.h"
#include "tests/support/Fixtures.h"
#include "tests/support/MachOImage.h"
#include "tests/support/TempDir.h"

namespace cb::AppRelatedFiles {
namespace {

namespace fs = std::filesystem;
namespace ts = cb::testsupport;
using platform::PlistDictionary;
using Strings = std::vector<std::string>;

TEST(AppIdentityTest, WithoutABundleHoldsOnlyTheCallersValues) {
    const Identity identity = buildIdentity("com.example.foo", "Foo", std::nullopt);
    EXPECT_EQ(identity.bundleIDs.members(), Strings{"com.example.foo"});
    EXPECT_EQ(identity.names.members(), Strings{"Foo"});
    EXPECT_TRUE(identity.groupIDs.empty());
    EXPECT_TRUE(identity.privilegedHelperIDs.empty());
    EXPECT_EQ(identity.appURL, std::nullopt);
}

TEST(AppIdentityTest, GathersNestedBundlesNamesGroupsAndHelpers) {
    ts::TempDir dir;
    const fs::path app = dir / "Applications/Foo Pro.app";
    const fs::path contents = app / "Contents";
    ts::makeSignedAppBundle(
        app, "com.example.foo", {"TEAM.group.main"},
        PlistDictionary{{"CFBundleName", "Foo"},
                        {"CFBundleDisplayName", ""},
                        {"SMPrivilegedExecutables",
                         PlistDictionary{{"com.example.foo.helper", "anchor apple"}}}});
    ts::makeSignedAppBundle(contents / "Library/LoginItems/Helper.app", "com.example.foo.login",
                            {"TEAM.group.login"});
    ts::makeAppBundle(contents / "PlugIns/Share.appex", "com.example.foo.share");
    ts::makeSignedAppBundle(contents / "XPCServices/Agent.xpc", "com.example.foo.agent",
                            {"TEAM.group.agent", "TEAM.group.main"});
    ts::makeAppBundle(contents / "Helpers/Upper.APP", "com.example.foo.upper");
    // Inside a nested bundle still counts.
    ts::makeAppBundle(contents / "Helpers/Upper.APP/Contents/XPCServices/Deep.xpc",
                      "com.example.foo.deep");
    // Frameworks are closed, but only under that exact spelling.
    ts::makeSignedAppBundle(contents / "Frameworks/Kit.framework/XPCServices/In.xpc",
                            "com.example.kit.in", {"TEAM.group.kit"});
    ts::makeAppBundle(contents / "Frameworks/Tools.Framework/X.xpc", "com.example.foo.x");
    // Bundles reached only through links add nothing.
    ts::makeSignedAppBundle(dir / "elsewhere/Linked.appex", "com.example.linked",
                            {"TEAM.group.linked"});
    ts::makeAppBundle(dir / "elsewhere/Folder/Inside.app", "com.example.inside");
    ts::makeSymlink(dir / "elsewhere/Linked.appex", contents / "PlugIns/Linked.appex");
    ts::makeSymlink(dir / "elsewhere/Folder", contents / "PlugIns/Folder");
    // A bundle that does not open (its Info.plist a named pipe) adds nothing, and does not block.
    ts::makeDir(contents / "PlugIns/Broken.appex/Contents");
    ts::makeFifo(contents / "PlugIns/Broken.appex/Contents/Info.plist");

    const Identity identity = buildIdentity("com.example.foo", "Foo Pro", app);
    EXPECT_EQ(identity.bundleIDs.members(),
              (Strings{"com.example.foo", "com.example.foo.agent", "com.example.foo.deep",
                       "com.example.foo.helper", "com.example.foo.login", "com.example.foo.share",
                       "com.example.foo.upper", "com.example.foo.x"}));
    EXPECT_EQ(identity.names.members(), (Strings{"Foo", "Foo Pro"}));
    EXPECT_EQ(identity.groupIDs.members(),
              (Strings{"TEAM.group.agent", "TEAM.group.login", "TEAM.group.main"}));
    EXPECT_EQ(identity.privilegedHelperIDs.members(), Strings{"com.example.foo.helper"});
    EXPECT_EQ(identity.appURL, app);
}

TEST(AppIdentityTest, KeepsTheCallersEmptyIdentifierAndSkipsMalformedHelpers) {
    ts::TempDir dir;
    const PlistDictionary badHelpers[] = {
        {{"SMPrivilegedExecutables", PlistDictionary{{"com.example.a", "req"}, {"b", 1}}}},
        {{"SMPrivilegedExecutables", platform::PlistArray{"com.example.a"}}},
        {{"SMPrivilegedExecutables", "com.example.a"}},
    };
    for (const PlistDictionary& info : badHelpers) {
        ts::removeTree(dir / "Foo.app");
        ts::makeSignedAppBundle(dir / "Foo.app", "com.example.foo", {}, info);
        const Identity identity = buildIdentity("", "", dir / "Foo.app");
        EXPECT_EQ(identity.bundleIDs.members(), (Strings{"", "com.example.foo"}));
        EXPECT_EQ(identity.names.members(), (Strings{"", "Foo"}));
        EXPECT_TRUE(identity.privilegedHelperIDs.empty());
        EXPECT_TRUE(identity.groupIDs.empty());
    }
}

TEST(AppIdentityTest, AppGroupsComeOnlyFromAnArrayOfStrings) {
    ts::TempDir dir;
    auto withEntitlements = [&](const std::string& name, const std::string& plist) {
        const fs::path bundle = ts::makeSignedAppBundle(dir / name, "com.example.foo", {});
        ts::writeText(bundle / "Contents/MacOS/main",
                      ts::machOImage(ts::MachOSlice{true, false, plist}));
        return bundle;
    };
    const std::string decomposed = "TEAM.cafe\xCC\x81";  // "e" + combining acute
    const std::string composed = "TEAM.caf\xC3\xA9";
    struct Case {
        fs::path bundle;
        Strings groups;
    };
    const Case cases[] = {
        {ts::makeSignedAppBundle(dir / "Two.app", "com.example.foo", {"B", "A", "B"}), {"A", "B"}},
        {ts::makeSignedAppBundle(dir / "Same.app", "com.example.foo", {decomposed, composed}),
         {decomposed}},
        {withEntitlements("Mixed.app", platform::encodeXmlPlist(PlistDictionary{
                                           {"com.apple.security.application-groups",
                                            platform::PlistArray{"A", int64_t{1}}}})),
         {}},
        {withEntitlements("Text.app", platform::encodeXmlPlist(PlistDictionary{
                                          {"com.apple.security.application-groups", "A"}})),
         {}},
        {ts::makeAppBundle(dir / "Unsigned.app", "com.example.foo"), {}},
        {dir / "Missing.app", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bundle.filename().string());
        EXPECT_EQ(appGroupIDs(c.bundle).members(), c.groups);
    }
}

TEST(AppIdentityTest, AnExecutableNameOutsideMacOSIsNotRead) {
    ts::TempDir dir;
    const fs::path bundle = ts::makeAppBundle(
        dir / "Foo.app",
        PlistDictionary{{"CFBundleIdentifier", "com.example.foo"}, {"CFBundleExecutable", "../x"}});
    ts::writeText(bundle / "Contents/x",
                  ts::machOImage(ts::MachOSlice{true, false, ts::applicationGroupsPlist({"A"})}));
    EXPECT_TRUE(appGroupIDs(bundle).empty());
}

}  // namespace
}  // namespace cb::AppRelatedFiles
