#include "sdk/measurement/engine/APMStringUtil.h"

#include <gtest/gtest.h>

#include <vector>

#include "sdk/measurement/engine/APMInternalParameterNames.h"
#include "sdk/measurement/engine/APMQueryString.h"
#include "sdk/measurement/engine/APMUserDefaults.h"

namespace {

TEST(APMStringUtil, LengthsCountCodePoints) {
    struct Case {
        std::string_view text;
        std::size_t length;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 3},
        {"\xF0\x9F\x98\x80", 1},          // one emoji
        {"\xC3\xA9t\xC3\xA9", 3},         // two accented letters
        {"\xE4\xB8\xAD\xE6\x96\x87", 2},  // two CJK ideographs
        {"a\xFF"
         "b",
         3},                  // an invalid byte counts one
        {"\xF0\x9F\x98", 3},  // a cut sequence: each byte counts
        {"\xC0\x80", 2},      // an overlong form is not one code point
    };
    for (const Case& c : cases) {
        EXPECT_EQ(apm_UTF32Length(c.text), c.length) << c.text;
    }
}

TEST(APMStringUtil, UTF32BytesAreWholeCodePointsWithinTheLimit) {
    std::vector<std::uint8_t> buffer(6, 0xEE);
    EXPECT_TRUE(apm_getUTF32Bytes("\xF0\x9F\x98\x80z", buffer));
    EXPECT_EQ(buffer, (std::vector<std::uint8_t>{0x00, 0xF6, 0x01, 0x00, 0xEE, 0xEE}));
    EXPECT_FALSE(apm_getUTF32Bytes("", buffer));
    EXPECT_FALSE(apm_getUTF32Bytes("a", std::span<std::uint8_t>(buffer).first(3)));
}

TEST(APMStringUtil, BitsAreReadOnlyInsideTheString) {
    EXPECT_TRUE(apm_isBitEnabledAtIndex("0101", 1));
    EXPECT_TRUE(apm_isBitEnabledAtIndex("0101", 3));
    EXPECT_FALSE(apm_isBitEnabledAtIndex("0101", 2));
    EXPECT_FALSE(apm_isBitEnabledAtIndex("0101", 4));
    EXPECT_FALSE(apm_isBitEnabledAtIndex("0101", -1));
    EXPECT_FALSE(apm_isBitEnabledAtIndex("", 0));
    // Positions count UTF-16 units: "é" takes one, "😀" two, an ill-formed byte one.
    EXPECT_TRUE(
        apm_isBitEnabledAtIndex("\xC3\xA9"
                                "1",
                                1));
    EXPECT_TRUE(
        apm_isBitEnabledAtIndex("\xF0\x9F\x98\x80"
                                "1",
                                2));
    EXPECT_FALSE(
        apm_isBitEnabledAtIndex("\xF0\x9F\x98\x80"
                                "1",
                                1));
    EXPECT_TRUE(
        apm_isBitEnabledAtIndex("\xFF"
                                "1",
                                1));
}

TEST(APMStringUtil, UTF16UnitsOfText) {
    const std::string text =
        "a\xC3\xA9\xF0\x9F\x98\x80\xFF"
        "b";
    EXPECT_EQ(apm_UTF16Length(text), 6u);
    EXPECT_EQ(apm_UTF16Length(""), 0u);
    EXPECT_EQ(apm_characterAtUTF16Index(text, 0), "a");
    EXPECT_EQ(apm_characterAtUTF16Index(text, 1), "\xC3\xA9");
    EXPECT_EQ(apm_characterAtUTF16Index(text, 2), "\xF0\x9F\x98\x80");
    EXPECT_EQ(apm_characterAtUTF16Index(text, 3), "\xEF\xBF\xBD") << "second half of a pair";
    EXPECT_EQ(apm_characterAtUTF16Index(text, 4), "\xEF\xBF\xBD") << "ill-formed byte";
    EXPECT_EQ(apm_characterAtUTF16Index(text, 5), "b");
    EXPECT_EQ(apm_characterAtUTF16Index(text, 6), std::nullopt);
    EXPECT_EQ(apm_characterAtUTF16Index(text, -1), std::nullopt);
}

TEST(APMStringUtil, URLArgumentsUnescape) {
    EXPECT_EQ(apm_stringByUnescapingFromURLArgument("a+b%20c%2Bd"), "a b c+d");
    EXPECT_EQ(apm_stringByUnescapingFromURLArgument("%C3%A9"), "\xC3\xA9");
    EXPECT_EQ(apm_stringByUnescapingFromURLArgument("100%"), std::nullopt);
    EXPECT_EQ(apm_stringByUnescapingFromURLArgument("%zz"), std::nullopt);
    EXPECT_EQ(apm_stringByUnescapingFromURLArgument("%FF"), std::nullopt) << "not UTF-8";
}

TEST(APMQueryString, ArgumentsKeepTheFirstOccurrence) {
    using Arguments = std::map<std::string, std::string, std::less<>>;
    EXPECT_EQ(apm_dictionaryWithHttpArgumentsString("a=1&a=2&b"),
              (Arguments{{"a", "1"}, {"b", ""}}));
    EXPECT_EQ(apm_dictionaryWithHttpArgumentsString("&&utm_source=news+letter&x=%41=B&bad=%"),
              (Arguments{{"utm_source", "news letter"}, {"x", "A=B"}}));
    EXPECT_TRUE(apm_dictionaryWithHttpArgumentsString("").empty());
}

TEST(APMQueryString, QueryEncodesWhatAQueryCannotHold) {
    const sdk::Value::Dictionary parameters{
        {"app_instance_id", sdk::Value("a b&c=d+e")},
        {"platform", sdk::Value("macos")},
        {"runtime_version", sdk::Value(2)},
        {"x#y", sdk::Value("100%/?:@")},
    };
    EXPECT_EQ(apm_queryString(parameters),
              "app_instance_id=a%20b&c=d+e&platform=macos&runtime_version=2&x%23y=100%25/?:@");
    EXPECT_EQ(apm_queryString({}), "");
}

TEST(APMNameTables, InternalAndReservedNames) {
    const auto& names = APMInternalParameterNames();
    EXPECT_EQ(names.size(), 55u);
    EXPECT_EQ(names.at("razudizo_screen_class"), "_sc");
    EXPECT_EQ(names.at("ma_screen_class"), "_sc");
    EXPECT_EQ(names.at("update_with_analytics"), "_uwa");
    EXPECT_EQ(names.at("ad_event_id"), "_aeid");
    const auto& reserved = APMReservedUserPropertyNames();
    EXPECT_EQ(reserved.size(), 10u);
    EXPECT_EQ(reserved.at("first_open_time"), "_fot");
    EXPECT_EQ(reserved.at("user_id"), "_id");
}

}  // namespace
