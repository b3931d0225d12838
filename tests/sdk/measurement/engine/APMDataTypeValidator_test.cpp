// The name and value rules: lengths in code points, letters and name characters, reserved
// names and prefixes, origins, numbers, currencies and array parameters.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

using V = APMDataTypeValidator;

std::string repeat(const std::string& unit, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += unit;
    return text;
}

struct Case {
    const char* what;
    std::function<bool(std::uint64_t*)> check;
    bool valid;
    std::uint64_t failure;
    std::int64_t code;  // the monitor code expected, 0 for none
};

TEST(APMDataTypeValidatorTest, RulesTable) {
    const APMValue empty(std::string{});
    const APMValue usd("usd"), us1("US1"), usdx("USDX"), number(std::int64_t{7});
    const std::string emoji40 = repeat("\xF0\x9F\x98\x80", 40);
    const Case cases[] = {
        {"40 code points",
         [](auto* f) { return V::isValidInternalEventName(repeat("\xC3\xA9", 40), f); }, true, 0,
         0},
        {"41 code points", [](auto* f) { return V::isValidInternalEventName(repeat("a", 41), f); },
         false, 2, 13000},
        {"40 emoji", [&](auto* f) { return V::isValidString(emoji40, 1, 40, 0, f); }, true, 0, 0},
        {"41 emoji",
         [&](auto* f) { return V::isValidString(emoji40 + "\xF0\x9F\x98\x80", 1, 40, 0, f); },
         false, 2, 13000},
        {"1abc public", [](auto* f) { return V::isValidPublicEventName("1abc", f); }, false, 3,
         13003},
        {"1abc internal", [](auto* f) { return V::isValidInternalEventName("1abc", f); }, true, 0,
         0},
        {"a-b public", [](auto* f) { return V::isValidPublicEventName("a-b", f); }, false, 3,
         13002},
        {"a-b internal", [](auto* f) { return V::isValidInternalEventName("a-b", f); }, false, 3,
         13002},
        {"combining mark", [](auto* f) { return V::isValidInternalEventName("e\xCC\x81", f); },
         false, 3, 13002},
        {"ad_impression", [](auto* f) { return V::isValidPublicEventName("ad_impression", f); },
         true, 0, 0},
        {"screen_view", [](auto* f) { return V::isValidPublicEventName("screen_view", f); }, true,
         0, 0},
        {"app_remove", [](auto* f) { return V::isValidPublicEventName("app_remove", f); }, false, 4,
         13006},
        {"razudizo_x", [](auto* f) { return V::isValidPublicEventName("razudizo_x", f); }, false, 4,
         13007},
        {"ma_ parameter", [](auto* f) { return V::isValidPublicEventParameterName("ma_x", f); },
         false, 4, 13008},
        {"empty parameter value",
         [&](auto* f) { return V::isValidPublicEventParameterValue(&empty, 500, f); }, true, 0, 0},
        {"empty user property value",
         [&](auto* f) { return V::isValidPublicUserAttributeValue(&empty, f); }, false, 1, 0},
        {"no value", [](auto* f) { return V::isValidPublicUserAttributeValue(nullptr, f); }, false,
         1, 13004},
        {"_id value of 256",
         [](auto* f) {
             APMValue v(repeat("x", 256));
             return V::isValidInternalUserAttributeValue(&v, "_id", f);
         },
         true, 0, 0},
        {"other value of 37",
         [](auto* f) {
             APMValue v(repeat("x", 37));
             return V::isValidInternalUserAttributeValue(&v, "_x", f);
         },
         false, 2, 13000},
        {"app+tgw forwarded", [](auto* f) { return V::isValidForwardedEventOrigin("app+tgw", f); },
         true, 0, 0},
        {"app forwarded", [](auto* f) { return V::isValidForwardedEventOrigin("app", f); }, false,
         6, 0},
        {"app internal origin", [](auto* f) { return V::isValidInternalEventOrigin("app", f); },
         true, 0, 0},
        {"usd", [&](auto* f) { return V::isValidCurrencyCode(&usd, f); }, true, 0, 0},
        {"US1", [&](auto* f) { return V::isValidCurrencyCode(&us1, f); }, false, 9, 13012},
        {"USDX", [&](auto* f) { return V::isValidCurrencyCode(&usdx, f); }, false, 9, 13012},
        {"numeric int", [&](auto* f) { return V::isValidNumericValue(&number, f); }, true, 0, 0},
        {"numeric string", [&](auto* f) { return V::isValidNumericValue(&usd, f); }, false, 8,
         13011},
        {"201 items",
         [](auto* f) { return V::isValidArrayParamForEvent("purchase", "items", 201, false, f); },
         false, 12, 13013},
        {"items nested",
         [](auto* f) { return V::isValidArrayParamForEvent("purchase", "items", 1, true, f); },
         false, 13, 13013},
        {"items on level_up",
         [](auto* f) { return V::isValidArrayParamForEvent("level_up", "items", 1, false, f); },
         false, 10, 13013},
        {"products",
         [](auto* f) { return V::isValidArrayParamForEvent("purchase", "products", 1, false, f); },
         false, 11, 13013},
        {"item not a dictionary",
         [](auto* f) { return V::isValidArrayParamItem(sdk::Value("x"), f); }, false, 14, 13014},
    };
    for (const Case& c : cases) {
        sdktest::MonitorRecorder recorder;
        std::uint64_t failure = 99;
        EXPECT_EQ(c.check(&failure), c.valid) << c.what;
        EXPECT_EQ(failure, c.failure) << c.what;
        const auto codes = recorder.codes();
        if (c.code == 0) {
            EXPECT_TRUE(codes.empty()) << c.what;
        } else {
            EXPECT_EQ(codes, std::vector<std::int64_t>{c.code}) << c.what;
        }
    }
}

TEST(APMDataTypeValidatorTest, ValueLimitsComeFromTheCaller) {
    const APMValue text(repeat("x", 300));
    EXPECT_FALSE(V::isValidPublicEventParameterValue(&text, 100, nullptr));
    // The internal limit never drops below 256 and follows a larger public one.
    EXPECT_FALSE(V::isValidInternalEventParameterValue(&text, 100, nullptr));
    EXPECT_TRUE(V::isValidInternalEventParameterValue(&text, 300, nullptr));
    EXPECT_EQ(V::maxInternalEventParameterValueLength(256), 256);
    EXPECT_EQ(V::maxInternalEventParameterValueLength(257), 257);
}

TEST(APMDataTypeValidatorTest, SafelistNeedsAnArrayOfInternalNames) {
    sdktest::MonitorRecorder recorder;
    EXPECT_TRUE(APMIsValidSafelistedEvents(sdk::Value(sdk::Value::Array{"_e", "purchase"})));
    EXPECT_FALSE(APMIsValidSafelistedEvents(sdk::Value(sdk::Value::Dictionary{{"a", 1}})));
    EXPECT_FALSE(
        APMIsValidSafelistedEvents(sdk::Value(sdk::Value::Array{"ok", "bad-name", "a b"})));
    const auto messages = recorder.messages();
    ASSERT_EQ(recorder.codes(), (std::vector<std::int64_t>{25034, 13002, 25035}));
    EXPECT_EQ(messages[2].contexts.at(0).description(), "bad-name");
}

}  // namespace
