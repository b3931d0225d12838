// Flags made from plain values, read back by protoc, and values read from flags; refused
// inputs reach the measurement monitor.
#include <gtest/gtest.h>

#include "sdk/measurement/experiments/APMPBFlagConversions.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using messages_test::asString;
using messages_test::protoc;

TEST(APMPBFlagConversions, FlagWithNameValueFillsOneValueFieldOrRefusesWithItsCode) {
    struct Case {
        const char* what;
        sdk::Value name;
        sdk::Value value;
        const char* protocText;  // nullptr: no flag
        std::int64_t code;
        const char* message;
        const char* context;
    };
    const Case cases[] = {
        {"boolean", "f", true, "name: \"f\"\nint_value: 1\n", 0, "", ""},
        {"false", "f", false, "name: \"f\"\nint_value: 0\n", 0, "", ""},
        {"double", "f", 2.5, "name: \"f\"\ndouble_value: 2.5\n", 0, "", ""},
        {"string", "f", "on", "name: \"f\"\nstring_value: \"on\"\n", 0, "", ""},
        {"integer", "f", 7, "name: \"f\"\nint_value: 7\n", 0, "", ""},
        {"null name", nullptr, 7, nullptr, 850000, "Flag name must not be nil", nullptr},
        {"null name and value", nullptr, nullptr, nullptr, 850000, "Flag name must not be nil",
         nullptr},
        {"numeric name", 3, 7, nullptr, 850001, "Flag name must be a string", "integer"},
        {"array value", "f", sdk::Value::Array{1, 2}, nullptr, 850002, "Flag value is invalid",
         "array"},
        {"null value", "f", nullptr, nullptr, 850002, "Flag value is invalid", "null"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sdktest::MonitorRecorder monitor;
        const auto flag = APMPBFlagWithNameValue(c.name, c.value);
        const auto messages = monitor.messages();
        if (c.protocText != nullptr) {
            ASSERT_NE(flag, nullptr);
            EXPECT_EQ(protoc("--decode=apmpb.Flag", asString(*flag->protoBuffer())), c.protocText);
            EXPECT_TRUE(messages.empty());
            continue;
        }
        EXPECT_EQ(flag, nullptr);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].level, 1);
        EXPECT_EQ(messages[0].code, c.code);
        EXPECT_EQ(messages[0].message, c.message);
        if (c.context == nullptr) {
            EXPECT_TRUE(messages[0].contexts.empty());
        } else {
            ASSERT_EQ(messages[0].contexts.size(), 1u);
            EXPECT_EQ(messages[0].contexts[0].description(), c.context);
        }
    }
}

TEST(APMPBFlagConversions, FlagValueObjectTakesTheFirstPresentValue) {
    namespace F = apmpb::Flag;
    APMPBFlag intAndString;
    APMPBSetInt64(&intAndString, F::kIntValue, 5);
    APMPBSetString(&intAndString, F::kStringValue, "five");
    APMPBFlag doubleAndBool;
    APMPBSetDouble(&doubleAndBool, F::kDoubleValue, 0.5);
    APMPBSetBool(&doubleAndBool, F::kBoolValue, true);
    APMPBFlag stringAndBool;
    APMPBSetString(&stringAndBool, F::kStringValue, "");
    APMPBSetBool(&stringAndBool, F::kBoolValue, true);
    APMPBFlag boolAlone;
    APMPBSetBool(&boolAlone, F::kBoolValue, false);
    APMPBFlag nameOnly;
    APMPBSetString(&nameOnly, F::kName, "f");

    EXPECT_EQ(APMPBFlagValueObject(&intAndString), sdk::Value(5));
    EXPECT_EQ(APMPBFlagValueObject(&doubleAndBool), sdk::Value(0.5));
    EXPECT_EQ(APMPBFlagValueObject(&stringAndBool), sdk::Value(""));
    EXPECT_EQ(APMPBFlagValueObject(&boolAlone), sdk::Value(false));
    EXPECT_EQ(APMPBFlagValueObject(&nameOnly), std::nullopt);
    EXPECT_EQ(APMPBFlagValueObject(nullptr), std::nullopt);

    // A flag made from a value gives that value back, a boolean as the integer it was stored as.
    EXPECT_EQ(APMPBFlagValueObject(APMPBFlagWithNameValue("f", 2.5).get()), sdk::Value(2.5));
    EXPECT_EQ(APMPBFlagValueObject(APMPBFlagWithNameValue("f", true).get()), sdk::Value(1));
}
