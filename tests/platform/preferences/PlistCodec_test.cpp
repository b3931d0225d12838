#include "platform/preferences/PlistCodec.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace platform
