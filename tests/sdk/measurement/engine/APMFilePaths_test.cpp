#include "sdk/measurement/engine/APMFilePaths.h"

#include <gtest/gtest.h>

#include <fstream>

#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

class APMFilePathsTest : public ::testing::Test {
  protected:
    fs::path oldPlist() const { return dir_ / "config/cellarbright/suite.plist"; }
    fs::path newPlist() const { return dir_ / "data/Vovidu/Measurement/suite.plist"; }
    static void write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    static std::string read(const fs::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    cb::testsupport::TempDir dir_{"cb-apm-paths"};
    sdktest::ScopedEnv dataHome_{"XDG_DATA_HOME", (dir_ / "data").string()};
    sdktest::ScopedEnv configHome_{"XDG_CONFIG_HOME", (dir_ / "config").string()};
};

TEST_F(APMFilePathsTest, PathsLieUnderTheDataAndConfigHomes) {
    const std::string measurement = (dir_ / "data/Vovidu/Measurement/").string();
    EXPECT_EQ(APMMeasurementFilePath("vovidu-app-measurement.sql"),
              measurement + "vovidu-app-measurement.sql");
    EXPECT_EQ(APMMeasurementPlistPath("com.vovidu.vud.measurement"),
              measurement + "com.vovidu.vud.measurement.plist");
    EXPECT_EQ(APMMeasurementPlistPath("settings.plist"), measurement + "settings.plist");
    EXPECT_EQ(APMPreferencesPlistPath("suite"), oldPlist().string());
    EXPECT_EQ(APMMeasurementFilePath(""), "");
    EXPECT_EQ(APMMeasurementPlistPath(""), "");
    EXPECT_EQ(APMPreferencesPlistPath(""), "");

    sdktest::ScopedEnv relative("XDG_DATA_HOME", "relative/data");
    sdktest::ScopedEnv home("HOME", (dir_ / "home").string());
    EXPECT_EQ(APMMeasurementFilePath("x"),
              (dir_ / "home/.local/share/Vovidu/Measurement/x").string());
}

TEST_F(APMFilePathsTest, MigrationMovesKeepsTheNewerFileOrRefusesFolders) {
    EXPECT_TRUE(APMMigratePlistToApplicationSupport("suite"));  // nothing to move
    EXPECT_FALSE(fs::exists(newPlist()));

    write(oldPlist(), "old");
    EXPECT_TRUE(APMMigratePlistToApplicationSupport("suite"));
    EXPECT_FALSE(fs::exists(oldPlist()));
    EXPECT_EQ(read(newPlist()), "old");

    write(oldPlist(), "older");
    EXPECT_TRUE(APMMigratePlistToApplicationSupport("suite"));
    EXPECT_FALSE(fs::exists(oldPlist()));
    EXPECT_EQ(read(newPlist()), "old");

    fs::remove(newPlist());
    fs::create_directories(newPlist());
    write(oldPlist(), "old");
    EXPECT_FALSE(APMMigratePlistToApplicationSupport("suite"));
    EXPECT_EQ(read(oldPlist()), "old");
    EXPECT_FALSE(APMMigratePlistToApplicationSupport(""));

    // An old "file" that is a folder is not moved.
    fs::remove_all(newPlist());
    fs::remove(oldPlist());
    fs::create_directories(oldPlist());
    EXPECT_FALSE(APMMigratePlistToApplicationSupport("suite"));
    EXPECT_TRUE(fs::is_directory(oldPlist()));
    EXPECT_FALSE(fs::exists(newPlist()));
}

TEST_F(APMFilePathsTest, RemoveFileReportsEmptyPathsAndFailures) {
    sdk::Error error;
    EXPECT_FALSE(APMRemoveFile("", &error));
    EXPECT_TRUE(error.is(kAPMErrorDomain, 1));
    EXPECT_EQ(error.message(), "Received empty path for deleting file");
    EXPECT_TRUE(APMRemoveFile((dir_ / "missing").string(), nullptr));
    write(dir_ / "full/file", "x");
    EXPECT_FALSE(APMRemoveFile((dir_ / "full").string(), &error));
    EXPECT_EQ(error.domain(), "NSPOSIXErrorDomain");
}

TEST_F(APMFilePathsTest, UserDefaultsRefuseBadKeysAndValuesWithTheirCodes) {
    sdktest::LoggedLines log;
    APMUserDefaults defaults(platform::PreferencesStore::suite("com.example.apm"));
    defaults.setObject(sdk::Value(""), "");
    EXPECT_EQ(defaults.objectForKey(""), std::nullopt);
    defaults.setObject(sdk::Value(nullptr), "key");
    defaults.setObject(sdk::Value("12"), "string");
    EXPECT_EQ(defaults.integerForKey("string"), 0);
    EXPECT_EQ(defaults.stringForKey("string"), "12");
    EXPECT_EQ(defaults.numberForKey("string"), std::nullopt);
    const std::string prefix = "com.vovidu.razudizo.analytics  - <DivEdadevadeze>";
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{
                  prefix + "[I-ACS041002] Cannot set object for invalid user default key.",
                  prefix + "[I-ACS041001] Cannot get object for invalid user default key.",
                  prefix + "[I-ACS041003] Cannot set invalid object to user defaults. Must be a "
                           "string or number or an array. Value null",
              }));
}

}  // namespace
