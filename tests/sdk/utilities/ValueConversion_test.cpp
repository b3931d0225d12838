#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/preferences/PlistCodec.h"
#include "sdk/utilities/ValueJson.h"
#include "sdk/utilities/ValuePlist.h"
#include "tests/platform/preferences/HostilePlists.h"

namespace sdk {
namespace {

// Every type a plist can hold, with the awkward corners of each.
Value plistSample() {
    return Value(Value::Dictionary{
        {"bool", true},
        {"false", false},
        {"int", std::int64_t{-9007199254740993}},
        {"one", 1},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"double", 0.1},
        {"wholeDouble", 2.0},
        {"string", "h\u00e9llo <&> \u4e2d"},
        {"empty", ""},
        {"bytes", Bytes{0, 1, 0xfe, 0xff}},
        {"date", Date::fromTimeIntervalSince1970(1700000000)},
        {"array", Value::Array{1, "two", Value::Array{}, Value::Dictionary{}}},
        {"nested", Value::Dictionary{{"k", Value::Array{false, 3.5}}}},
    });
}

// The JSON subset: no bytes or dates, plus null.
Value jsonSample() {
    Value value = plistSample();
    value.dictionary()->erase("bytes");
    value.dictionary()->erase("date");
    (*value.dictionary())["null"] = Value();
    return value;
}

TEST(ValueJsonTest, RoundTripKeepsTypes) {
    std::string text;
    ASSERT_TRUE(serializeJson(jsonSample(), &text).ok());
    Value back;
    ASSERT_TRUE(parseJson(text, &back).ok());
    EXPECT_EQ(back, jsonSample()) << text;
    EXPECT_TRUE(back.find("one")->isInt());
    EXPECT_TRUE(back.find("wholeDouble")->isDouble());
    EXPECT_TRUE(back.find("bool")->isBool());
}

TEST(ValueJsonTest, ReadsNumbersAsTheirKinds) {
    Value value;
    ASSERT_TRUE(parseJson(R"([1, -1, 1.0, 1e2, 18446744073709551615, true])", &value).ok());
    const Value::Array& a = *value.array();
    EXPECT_EQ(a[0], Value(1));
    EXPECT_EQ(a[1], Value(-1));
    EXPECT_EQ(a[2], Value(1.0));
    EXPECT_EQ(a[3], Value(100.0));
    EXPECT_EQ(a[4], Value(18446744073709551615.0));
    EXPECT_EQ(a[5], Value(true));
}

TEST(ValueJsonTest, FailuresLeaveTheOutputAlone) {
    struct Case {
        Value value;
        std::int64_t code;
    };
    const Case unwritable[] = {
        {Value(Bytes{1}), kWriteInvalidErrorCode},
        {Value(Value::Array{Date()}), kWriteInvalidErrorCode},
        {Value(std::nan("")), kWriteInvalidErrorCode},
        {Value(INFINITY), kWriteInvalidErrorCode},
        {Value(std::string("\xff\xfe")), kWriteInvalidErrorCode},
    };
    for (const Case& c : unwritable) {
        std::string text = "untouched";
        const Error e = serializeJson(c.value, &text);
        EXPECT_TRUE(e.is(kCocoaErrorDomain, c.code)) << c.value.description() << e.ToString();
        EXPECT_EQ(text, "untouched");
    }
    for (const char* bad : {"", "{", "[1,]", "{\"a\" 1}", "nul"}) {
        Value value("untouched");
        const Error e = parseJson(bad, &value);
        EXPECT_TRUE(e.is(kCocoaErrorDomain, kReadCorruptErrorCode)) << bad;
        EXPECT_FALSE(e.message().empty());
        EXPECT_EQ(value, Value("untouched"));
    }
}

TEST(ValueJsonTest, DepthIsLimited) {
    for (int depth : {kMaxJsonDepth + 10, 200000}) {
        const std::string text = std::string(depth, '[') + std::string(depth, ']');
        Value value;
        EXPECT_TRUE(parseJson(text, &value).is(kCocoaErrorDomain, kReadCorruptErrorCode));
    }
    Value value;
    const std::string fine = std::string(100, '[') + std::string(100, ']');
    EXPECT_TRUE(parseJson(fine, &value).ok());
}

TEST(ValuePlistTest, RoundTripKeepsTypesInBothFormats) {
    for (PlistFormat format : {PlistFormat::kBinary, PlistFormat::kXml}) {
        Bytes data;
        ASSERT_TRUE(plistFromValue(plistSample(), format, &data).ok());
        Value back;
        ASSERT_TRUE(valueFromPlist(data, &back).ok());
        EXPECT_EQ(back, plistSample()) << back.description();
    }
}

TEST(ValuePlistTest, FormatsAreTheStandardOnes) {
    Bytes binary, xml;
    ASSERT_TRUE(
        plistFromValue(Value(Value::Dictionary{{"k", 1}}), PlistFormat::kBinary, &binary).ok());
    ASSERT_TRUE(plistFromValue(Value(Value::Dictionary{{"k", 1}}), PlistFormat::kXml, &xml).ok());
    EXPECT_EQ(std::string(binary.begin(), binary.begin() + 8), "bplist00");
    const std::string text(xml.begin(), xml.end());
    EXPECT_NE(text.find("<key>k</key>"), std::string::npos) << text;
    EXPECT_NE(text.find("<integer>1</integer>"), std::string::npos) << text;
}

TEST(ValuePlistTest, DatesKeepMicrosecondsInBinaryAndSecondsInXml) {
    const Value date(Date::fromTimeIntervalSince1970(1700000000.25));
    Bytes data;
    Value back;
    ASSERT_TRUE(plistFromValue(date, PlistFormat::kBinary, &data).ok());
    ASSERT_TRUE(valueFromPlist(data, &back).ok());
    EXPECT_EQ(back, date);
    ASSERT_TRUE(plistFromValue(date, PlistFormat::kXml, &data).ok());
    ASSERT_TRUE(valueFromPlist(data, &back).ok());
    EXPECT_EQ(back, Value(Date::fromTimeIntervalSince1970(1700000000)));
}

TEST(ValuePlistTest, FailuresLeaveTheOutputAlone) {
    for (const Value& value : {Value(), Value(Value::Array{Value()}),
                               Value(Date::fromTimeIntervalSinceReferenceDate(1e10))}) {
        Bytes data{9};
        EXPECT_TRUE(plistFromValue(value, PlistFormat::kBinary, &data)
                        .is(kCocoaErrorDomain, kWriteInvalidErrorCode));
        EXPECT_EQ(data, Bytes{9});
    }
    for (const std::string bad : {"", "garbage", "bplist00\x01\x02"}) {
        Value value("untouched");
        EXPECT_TRUE(valueFromPlist(Bytes(bad.begin(), bad.end()), &value)
                        .is(kCocoaErrorDomain, kReadCorruptErrorCode))
            << bad;
        EXPECT_EQ(value, Value("untouched"));
    }
}

TEST(ValuePlistTest, PlatformPlistValuesRoundTripAndRefuseWhatFilesCannotHold) {
    platform::PlistValue converted;
    ASSERT_TRUE(plistValueFromValue(plistSample(), &converted).ok());
    EXPECT_EQ(valueFromPlistValue(converted), plistSample());
    EXPECT_EQ(converted.getIf<platform::PlistDictionary>()->at("date"),
              platform::PlistValue(platform::PlistDate{1700000000}));

    // The platform reads files back to kMaxPlistDepth levels, the file's own dictionary
    // included, so a value may nest one level less.
    auto nested = [](int levels) {
        Value value = Value(1);
        for (int i = 0; i < levels; ++i) {
            value = Value(Value::Array{value});
        }
        return value;
    };
    EXPECT_TRUE(plistValueFromValue(nested(platform::kMaxPlistDepth - 1), &converted).ok());
    const std::string file =
        platform::encodeBinaryPlist(platform::PlistDictionary{{"k", converted}});
    EXPECT_TRUE(platform::decodePlist(file).has_value());

    converted = platform::PlistValue("untouched");
    for (const Value& value : {Value(), Value(Value::Dictionary{{"a", Value::Array{Value()}}}),
                               Value(Date::fromTimeIntervalSinceReferenceDate(1e10)),
                               nested(platform::kMaxPlistDepth)}) {
        EXPECT_TRUE(
            plistValueFromValue(value, &converted).is(kCocoaErrorDomain, kWriteInvalidErrorCode));
        EXPECT_EQ(converted, platform::PlistValue("untouched"));
    }
}

// Nested one-element arrays, `depth` levels, as XML.
Bytes deepXml(int depth) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">";
    for (int i = 0; i < depth; ++i) {
        text += "<array>";
    }
    text += "<!-- <array> in a comment does not nest --><integer>1</integer>";
    for (int i = 0; i < depth; ++i) {
        text += "</array>";
    }
    text += "</plist>";
    return Bytes(text.begin(), text.end());
}

// A binary plist of `count` one-element arrays, each holding the next; the last holds
// `lastRef` (an out-of-range ref makes it a leaf the parser rejects; a ref back makes a cycle).
Bytes deepBinary(std::uint32_t count, std::uint32_t lastRef) {
    Bytes data = {'b', 'p', 'l', 'i', 's', 't', '0', '0'};
    auto put32 = [&data](std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            data.push_back(static_cast<std::uint8_t>(v >> shift));
        }
    };
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t i = 0; i < count; ++i) {
        offsets.push_back(static_cast<std::uint32_t>(data.size()));
        data.push_back(0xA1);
        put32(i + 1 < count ? i + 1 : lastRef);
    }
    const auto table = static_cast<std::uint32_t>(data.size());
    for (std::uint32_t offset : offsets) {
        put32(offset);
    }
    data.insert(data.end(), {0, 0, 0, 0, 0, 0, 4, 4});
    for (std::uint64_t v : {std::uint64_t{count}, std::uint64_t{0}, std::uint64_t{table}}) {
        put32(static_cast<std::uint32_t>(v >> 32));
        put32(static_cast<std::uint32_t>(v));
    }
    return data;
}

TEST(ValuePlistTest, AbsurdNestingAndCyclesAreRefusedBeforeParsing) {
    // Deep enough to overflow the parser's stack if it were handed over; or 138 bytes of
    // shared references the parser would build into 16 million arrays.
    const std::string shared = platform::hostile::sharedReferences(24);
    for (const Bytes& data : {deepXml(200000), deepBinary(200000, 0), deepBinary(3, 1),
                              Bytes(shared.begin(), shared.end())}) {
        Value value;
        EXPECT_TRUE(valueFromPlist(data, &value).is(kCocoaErrorDomain, kReadCorruptErrorCode));
    }
    // Moderate nesting still reads, in both formats.
    Value nested = Value(1);
    for (int i = 0; i < 400; ++i) {
        nested = Value(Value::Array{nested});
    }
    Value value;
    ASSERT_TRUE(valueFromPlist(deepXml(400), &value).ok());
    EXPECT_EQ(value, nested);
    Bytes binary;
    ASSERT_TRUE(plistFromValue(nested, PlistFormat::kBinary, &binary).ok());
    ASSERT_TRUE(valueFromPlist(binary, &value).ok());
    EXPECT_EQ(value, nested);
    // Beyond the limit but within what the pre-check lets through, the conversion refuses.
    EXPECT_TRUE(valueFromPlist(deepXml(kMaxPlistDepth + 1), &value)
                    .is(kCocoaErrorDomain, kReadCorruptErrorCode));
}

}  // namespace
}  // namespace sdk
