#include "platform/preferences/PlistCodec.h"

#include <gtest/gtest.h>

#include "platform/preferences/PlistPreScan.h"
#include "tests/platform/preferences/HostilePlists.h"

namespace platform {
namespace {

PlistValue everyType(bool wholeSeconds) {
    double fraction = wholeSeconds ? 0 : 0.25;
    return PlistDictionary{
        {"bool", true},
        {"negative", int64_t{-42}},
        {"large", int64_t{1} << 62},
        {"real", 2.5},
        {"text", "Русский 中文"},
        {"data", PlistData{{0, 1, 255}}},
        {"date", PlistDate{1700000000 + fraction}},
        {"before2001", PlistDate{86400 - fraction}},
        {"array", PlistArray{1, "two", PlistArray{}}},
        {"nested", PlistDictionary{{"", false}}},
    };
}

TEST(PlistCodecTest, EveryTypeRoundTripsInBinaryAndXml) {
    for (bool xml : {false, true}) {
        PlistValue original = everyType(xml);
        std::string bytes = xml ? encodeXmlPlist(original) : encodeBinaryPlist(original);
        std::string error;
        std::optional<PlistValue> decoded = decodePlist(bytes, &error);
        ASSERT_TRUE(decoded.has_value()) << error;
        const auto& got = *decoded->getIf<PlistDictionary>();
        for (const auto& [key, value] : *original.getIf<PlistDictionary>()) {
            EXPECT_TRUE(got.count(key) && got.at(key) == value) << key << (xml ? " (XML)" : "");
        }
        EXPECT_EQ(got.size(), original.getIf<PlistDictionary>()->size());
    }
}

TEST(PlistCodecTest, RefusesGarbageAndTooDeepNesting) {
    std::string error;
    EXPECT_FALSE(decodePlist("", &error).has_value());
    EXPECT_FALSE(decodePlist("not a plist at all", &error).has_value());
    EXPECT_FALSE(error.empty());

    auto nested = [](int depth) {
        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">";
        for (int i = 0; i < depth; ++i)
            xml += "<array>";
        xml += "<true/>";
        for (int i = 0; i < depth; ++i)
            xml += "</array>";
        return xml + "</plist>";
    };
    EXPECT_TRUE(decodePlist(nested(kMaxPlistDepth)).has_value());
    EXPECT_FALSE(decodePlist(nested(kMaxPlistDepth + 1), &error).has_value());
    EXPECT_NE(error.find("nested"), std::string::npos) << error;
}

// Each of these would crash or exhaust memory if libplist built it; they are refused first.
TEST(PlistCodecTest, RefusesDeepNestingAndSharedReferencesBeforeBuilding) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"200,000 nested XML arrays", hostile::deepXml(200000), "nested"},
        {"a quoted \"/>\" in every tag", hostile::deepXml(200000, "a=\"/>\""), "nested"},
        {"a = [a', a'] 24 times", hostile::sharedReferences(24), "shared references"},
        {"a = [a', a', a', a'] 12 times", hostile::sharedReferences(12, 4), "shared references"},
        {"an array that holds itself", hostile::binaryPlist({hostile::arrayObject({0})}), "cycle"},
        {"a reference past the table", hostile::binaryPlist({hostile::arrayObject({7})}),
         "outside"},
        // libplist asserts (ending the process) when a string it holds has a NUL in it.
        {"a NUL in an XML key", "<plist><dict><key>a\0b</key><true/></dict></plist>"s, "NUL"},
        {"a NUL in a binary string",
         hostile::binaryPlist({"\x53"
                               "a\0b"s}),
         "NUL"},
        {"a NUL in a UTF-16 key", hostile::binaryPlist({"\xD1\x01\x02"s, "\x62\0a\0\0"s, "\x09"}),
         "NUL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_FALSE(decodePlist(c.bytes, &error).has_value());
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    EXPECT_EQ(hostile::sharedReferences(24).size(), 138u);
}

TEST(PlistCodecTest, ModestSharingStillReads) {
    // Shared containers a few levels deep, and one long string behind every key.
    std::optional<PlistValue> shared = decodePlist(hostile::sharedReferences(4));
    ASSERT_TRUE(shared.has_value());
    PlistValue expected = true;
    for (int i = 0; i < 4; ++i) {
        expected = PlistArray{expected, expected};
    }
    EXPECT_EQ(*shared, expected);

    std::string error;
    std::optional<PlistValue> keys = decodePlist(hostile::sharedLongString(14, 4000), &error);
    ASSERT_TRUE(keys.has_value()) << error;
    EXPECT_EQ(keys->getIf<PlistDictionary>()->at("n"), PlistValue(std::string(4000, 'x')));
}

TEST(PlistPreScanTest, WellFormedUtf8) {
    const std::pair<const char*, bool> cases[] = {
        {"", true},
        {"plain", true},
        {"Русский 中文 \xF0\x9F\x98\x80", true},
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\x80", false},              // a lone continuation byte
        {"\xC0\xAF", false},          // overlong "/"
        {"\xE0\x80\xAF", false},      // overlong, three bytes
        {"\xED\xA0\x80", false},      // a surrogate
        {"\xF4\x90\x80\x80", false},  // past U+10FFFF
        {"\xE4\xB8", false},          // cut short
        {"\xFF", false},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(isWellFormedUtf8(text), expected) << text;
    }
}

TEST(PlistPreScanTest, CostLimitGrowsWithTheData) {
    // 14 keys sharing one string of 64 KiB build 900 KiB from 64 KiB: within the limit.
    const std::string keys = hostile::sharedLongString(14, 65535);
    EXPECT_FALSE(
        plistPreScan(std::span(reinterpret_cast<const uint8_t*>(keys.data()), keys.size()), 8));
    EXPECT_EQ(plistCostLimit(0), 1u << 20);
    EXPECT_EQ(plistCostLimit(1000), 64000u + (1u << 20));
    EXPECT_GT(plistCostLimit(SIZE_MAX), plistCostLimit(1u << 30)) << "saturates, never wraps";
}

}  // namespace
}  // namespace platform
