#include "sdk/utilities/VDUUserDefaults.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <set>

#include "platform/bundle/Bundle.h"
#include "tests/platform/preferences/TemporaryFolder.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/Command.h"

namespace {

namespace fs = std::filesystem;
using sdk::Value;

constexpr const char* kCode3Text =
    "Cannot set invalid object to user defaults. Must be a string, number, array, dictionary, "
    "date, or data. Value: ";

using cb::testsupport::commandOutput;

class VDUUserDefaultsTest : public ::testing::Test {
  protected:
    platform::TemporaryFolder config_;
    sdktest::ScopedEnv configHome_{"XDG_CONFIG_HOME", config_.path().string()};
    sdktest::LoggedLines log_;
    VDUUserDefaults defaults_{std::string_view("com.example.suite")};
};

TEST_F(VDUUserDefaultsTest, BadKeysAndValuesAreRefusedWithTheirWarnings) {
    defaults_.setObject(Value("kept"), "name");
    log_.take();

    EXPECT_EQ(defaults_.objectForKey(""), std::nullopt);
    defaults_.setObject(Value("x"), "");
    defaults_.setObject(Value(nullptr), "name");
    defaults_.setObject(Value(Value::Dictionary{{"a", Value::Array{1, nullptr}}}), "name");
    EXPECT_EQ(log_.take(),
              (std::vector<std::string>{
                  "com.vovidu.utilities.logger  - <VoviduUtilities>[I-VDU000001] Cannot get "
                  "object for invalid user default key.",
                  "com.vovidu.utilities.logger  - [VoviduUtilities/UserDefaults][I-VDU000002] "
                  "Cannot set object for invalid user default key.",
                  "com.vovidu.utilities.logger  - [VoviduUtilities/UserDefaults][I-VDU000003] " +
                      std::string(kCode3Text) + "null",
                  "com.vovidu.utilities.logger  - [VoviduUtilities/UserDefaults][I-VDU000003] " +
                      std::string(kCode3Text) +
                      Value(Value::Dictionary{{"a", Value::Array{1, nullptr}}}).description(),
              }));
    EXPECT_EQ(VDUUserDefaults(std::string_view("com.example.suite")).objectForKey("name"),
              Value("kept"));

    // Too deep for the file to be read back: refused, not written.
    Value deep = 1;
    for (int i = 0; i < 70; ++i) {
        deep = Value(Value::Array{deep});
    }
    defaults_.setObject(deep, "name");
    EXPECT_EQ(defaults_.objectForKey("name"), Value("kept"));
    EXPECT_EQ(log_.take().size(), 1u);
}

TEST_F(VDUUserDefaultsTest, ValuesKeepTheirTypesAndNilRemoves) {
    const Value stored(Value::Dictionary{{"list", Value::Array{true, 2, 2.5, "s"}},
                                         {"bytes", sdk::Bytes{0, 255}},
                                         {"when", sdk::Date::fromTimeIntervalSince1970(1.7e9)}});
    defaults_.setObject(stored, "all");
    defaults_.setObject(Value(7), "number");
    EXPECT_EQ(defaults_.objectForKey("all"), stored);
    EXPECT_EQ(defaults_.stringForKey("number"), Value(7));  // no class check
    EXPECT_EQ(defaults_.dictionaryForKey("number"), Value(7));

    defaults_.setObject(std::nullopt, "all");
    defaults_.removeObjectForKey("number");
    EXPECT_EQ(defaults_.objectForKey("all"), std::nullopt);
    EXPECT_EQ(defaults_.objectForKey("number"), std::nullopt);
    EXPECT_TRUE(log_.take().empty());
}

TEST_F(VDUUserDefaultsTest, TypedGettersConvertWhatTheyCan) {
    struct Case {
        std::optional<Value> stored;
        std::int64_t integer;
        double real;
        bool boolean;
    };
    const Case cases[] = {
        {Value(7.9), 7, 7.9, true},
        {Value(-7.9), -7, -7.9, true},
        {Value(1e300), std::numeric_limits<std::int64_t>::max(), 1e300, true},
        {Value("42abc"), 42, 42, true},
        {Value("  -3.5e2x"), -3, -350, true},
        {Value("0.5"), 0, 0.5, false},
        {Value("YES"), 0, 0, true},
        {Value("99999999999999999999"), std::numeric_limits<std::int64_t>::max(), 1e20, true},
        {Value("abc"), 0, 0, false},
        {Value(true), 1, 1, true},
        {Value(Value::Array{1}), 0, 0, false},
        {std::nullopt, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored->description() : "missing");
        defaults_.setObject(c.stored, "key");
        EXPECT_EQ(defaults_.integerForKey("key"), c.integer);
        EXPECT_DOUBLE_EQ(defaults_.doubleForKey("key"), c.real);
        EXPECT_FLOAT_EQ(defaults_.floatForKey("key"), static_cast<float>(c.real));
        EXPECT_EQ(defaults_.boolForKey("key"), c.boolean);
    }

    defaults_.setInteger(5, "i");
    defaults_.setDouble(0.25, "d");
    defaults_.setFloat(1.5f, "f");
    defaults_.setBool(true, "b");
    EXPECT_EQ(defaults_.objectForKey("i"), Value(5));
    EXPECT_EQ(defaults_.objectForKey("d"), Value(0.25));
    EXPECT_EQ(defaults_.objectForKey("f"), Value(1.5));
    EXPECT_EQ(defaults_.objectForKey("b"), Value(true));
}

TEST_F(VDUUserDefaultsTest, ASuiteIsItsOwnFileThatOtherProcessesRead) {
    defaults_.setObject(Value("hello"), "greeting");
    const fs::path file = config_.path() / "cellarbright" / "com.example.suite.plist";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_NE(commandOutput("plistutil -f xml -i '" + file.string() + "'")
                  .find("<key>greeting</key>\n\t<string>hello</string>"),
              std::string::npos);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        VDUUserDefaults reader{std::string_view("com.example.suite")};
        _exit(reader.objectForKey("greeting") == Value("hello") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(VDUUserDefaultsTest, EverySuiteNameHasAFileOfItsOwn) {
    const fs::path folder = config_.path() / "cellarbright";
    // Pairs that an encoding which passes "%" through would put in one file.
    const std::string names[] = {"a/b", "a%2Fb", "a%252Fb",    "..",          "%2E%2E",
                                 "x%",  "x%25",  "plain.name", "plain%2Ename"};
    std::set<fs::path> paths;
    for (const std::string& name : names) {
        VDUUserDefaults suite{std::string_view(name)};
        ASSERT_TRUE(suite.userDefaults()) << name;
        EXPECT_EQ(suite.userDefaults()->path().parent_path(), folder) << name;
        paths.insert(suite.userDefaults()->path());
        suite.setObject(Value(name), "name");
    }
    EXPECT_EQ(paths.size(), std::size(names));
    for (const std::string& name : names) {
        EXPECT_EQ(VDUUserDefaults(std::string_view(name)).objectForKey("name"), Value(name))
            << name;
    }
    // An ordinary name keeps the file it always had.
    EXPECT_EQ(VDUUserDefaults::fileNameForSuite("com.example.app"), "com.example.app");
    EXPECT_EQ(VDUUserDefaults::fileNameForSuite("a%2Fb"), "a%252Fb");
}

TEST_F(VDUUserDefaultsTest, TheEmptySuiteIsTheStandardOneAndOddNamesStayInTheFolder) {
    const fs::path folder = config_.path() / "cellarbright";
    EXPECT_EQ(VDUUserDefaults(std::string_view("")).userDefaults(),
              VDUUserDefaults().userDefaults());
    EXPECT_EQ(VDUUserDefaults(std::nullopt).userDefaults()->path(),
              folder / (platform::Bundle::mainBundleIdentifier() + ".plist"));

    const std::string longName(300, 'n');
    for (const std::string& name :
         {std::string(".."), std::string("../x"), std::string("a/b%"), longName, longName + "2"}) {
        VDUUserDefaults odd{std::string_view(name)};
        EXPECT_EQ(odd.userDefaults()->path().parent_path(), folder) << name;
        odd.setObject(Value(name), "name");
    }
    EXPECT_EQ(VDUUserDefaults::fileNameForSuite(".."), "%2E%2E");
    EXPECT_EQ(VDUUserDefaults::fileNameForSuite("a/b%"), "a%2Fb%25");
    EXPECT_EQ(VDUUserDefaults(std::string_view(longName)).objectForKey("name"), Value(longName));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 5);
    EXPECT_EQ(std::distance(fs::directory_iterator(config_.path()), {}), 1);
}

}  // namespace
