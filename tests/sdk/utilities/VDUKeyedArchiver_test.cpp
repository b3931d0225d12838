#include "sdk/utilities/VDUKeyedArchiver.h"

#include <gtest/gtest.h>

#include "sdk/utilities/VDUKeyedUnarchiver.h"
#include "sdk/utilities/ValueJson.h"
#include "sdk/utilities/ValuePlist.h"
#include "tests/sdk/utilities/ArchiveFixtures.h"

namespace {

using sdk::Value;
using sdktest::TestRecord;
using sdktest::TestToken;

sdk::Bytes archive(const VDUArchivable& object) {
    sdk::Bytes data;
    EXPECT_TRUE(VDUKeyedArchiver::archivedDataWithRootObject(object, &data).ok());
    return data;
}

sdk::Bytes plist(const Value& value) {
    sdk::Bytes data;
    EXPECT_TRUE(sdk::plistFromValue(value, sdk::PlistFormat::kBinary, &data).ok());
    return data;
}

// An archive written by hand: {"$archiver", "$version", "$top": {class, values}}.
sdk::Bytes handMade(std::string_view className, Value::Dictionary values) {
    return plist(Value::Dictionary{
        {"$archiver", "VDUKeyedArchiver"},
        {"$version", 1},
        {"$top", Value::Dictionary{{"$class", className}, {"$values", std::move(values)}}}});
}

TEST(VDUKeyedArchiverTest, ObjectsRoundTripWithNestedObjectsAndNils) {
    auto record = sdktest::makeRecord("abc");
    std::shared_ptr<const TestRecord> decoded;
    ASSERT_TRUE(VDUKeyedUnarchiver::unarchivedObjectOfClass(archive(*record), &decoded).ok());
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->identifier, "abc");
    EXPECT_EQ(decoded->blob, (sdk::Bytes{0, 1, 2}));
    ASSERT_NE(decoded->token, nullptr);
    EXPECT_EQ(decoded->token->status, 1);
    EXPECT_EQ(decoded->token->token, "t-abc");
    EXPECT_EQ(decoded->token->expirationDate, record->token->expirationDate);

    // The archive is a plain binary property list with the layout other readers expect.
    Value raw;
    ASSERT_TRUE(sdk::valueFromPlist(archive(*record), &raw).ok());
    EXPECT_EQ(*raw.find("$top")->find("$class")->string(), "TestRecord");
    EXPECT_EQ(*raw.find("$top")->find("$values")->find("token")->find("$values")->find("token"),
              Value("t-abc"));

    // Nil fields are not written, and read back as nil or 0.
    ASSERT_TRUE(VDUKeyedUnarchiver::unarchivedObjectOfClass(archive(TestRecord{}), &decoded).ok());
    EXPECT_EQ(decoded->identifier, std::nullopt);
    EXPECT_EQ(decoded->token, nullptr);
}

TEST(VDUKeyedArchiverTest, AnotherClassOrKindOrBrokenDataIsAnArchiverError) {
    struct Case {
        const char* name;
        sdk::Bytes data;
        std::string message;
    };
    const Case cases[] = {
        {"root of another class", archive(TestToken{}),
         "value for key 'root' was of unexpected class 'TestToken'. Allowed class is "
         "'TestRecord'."},
        {"nested object of another class",
         handMade("TestRecord", {{"token", Value::Dictionary{{"$class", "TestRecord"},
                                                             {"$values", Value::Dictionary{}}}}}),
         "value for key 'token' was of unexpected class 'TestRecord'. Allowed class is "
         "'TestToken'."},
        {"a number where a string belongs", handMade("TestRecord", {{"identifier", 5}}),
         "value for key 'identifier' was of unexpected class 'integer'. Allowed class is "
         "'string'."},
        {"not a property list", sdk::Bytes{'n', 'o', 'p', 'e'}, ""},
        {"a property list but no archive", plist(Value::Dictionary{{"a", 1}}), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::shared_ptr<const TestRecord> decoded = std::make_shared<TestRecord>();
        sdk::Error error = VDUKeyedUnarchiver::unarchivedObjectOfClass(c.data, &decoded);
        EXPECT_TRUE(error.is(sdk::kCocoaErrorDomain, 4864)) << error.ToString();
        EXPECT_EQ(decoded, nullptr);
        if (!c.message.empty()) {
            EXPECT_EQ(error.message(), c.message);
        }
    }
}

TEST(VDUKeyedArchiverTest, AStoredClassNameCanBeReadAsAnotherClass) {
    const sdk::Bytes data = handMade("LegacyTokenInfo", {{"token", "legacy"}, {"status", 2}});
    std::unique_ptr<VDUKeyedUnarchiver> unarchiver;
    ASSERT_TRUE(VDUKeyedUnarchiver::unarchiverForReadingFromData(data, &unarchiver).ok());
    unarchiver->setClass(VDUArchiveClass::of<TestToken>(), "LegacyTokenInfo");
    std::shared_ptr<const VDUArchivable> object;
    ASSERT_TRUE(
        unarchiver->decodeTopLevelObjectOfClass(VDUArchiveClass::of<TestToken>(), &object).ok());
    auto token = std::dynamic_pointer_cast<const TestToken>(object);
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(token->token, "legacy");
    EXPECT_EQ(token->status, 2);

    // Without the mapping the stored name is simply another class.
    std::shared_ptr<const TestToken> unmapped;
    EXPECT_FALSE(VDUKeyedUnarchiver::unarchivedObjectOfClass(data, &unmapped).ok());
}

TEST(VDUKeyedArchiverTest, AValueWithoutAnArchiveFormIsAWriteError) {
    TestToken token;
    token.expirationDate = sdk::Date::fromTimeIntervalSince1970(1e300);
    sdk::Bytes data{9};
    sdk::Error error = VDUKeyedArchiver::archivedDataWithRootObject(token, &data);
    EXPECT_TRUE(error.is(sdk::kCocoaErrorDomain, 4866)) << error.ToString();
    EXPECT_EQ(data, sdk::Bytes{9});
}

}  // namespace
