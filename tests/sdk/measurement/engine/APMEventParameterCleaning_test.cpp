// Parameter cleaning: what survives, what is dropped, and the one error record ("_err", "_ev",
// "_el") a dropped parameter leaves; the first error recorded is never replaced.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "sdk/measurement/engine/APMEventParameterCleaning.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

const APMParameterLimits kLimits{100, 27, 500};

std::string numbered(const char* prefix, int i) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%03d", prefix, i);
    return text;
}

sdk::Value::Array items(int count, int customParameters = 0) {
    sdk::Value::Array array;
    for (int i = 0; i < count; ++i) {
        sdk::Value::Dictionary item{{"item_id", numbered("sku", i)}, {"price", 1.5}};
        for (int c = 0; c < customParameters; ++c)
            item.emplace(numbered("custom", c), c);
        array.emplace_back(std::move(item));
    }
    return array;
}

std::optional<std::int64_t> intOf(const APMParameters& p, const char* key) {
    auto it = p.find(key);
    return it != p.end() && it->second.isInt64() ? std::optional(it->second.int64Value())
                                                 : std::nullopt;
}

std::optional<std::string> stringOf(const APMParameters& p, const char* key) {
    auto it = p.find(key);
    return it != p.end() && it->second.isString() ? std::optional(*it->second.stringValue())
                                                  : std::nullopt;
}

struct Scenario {
    const char* what;
    std::string eventName;
    APMRawParameters parameters;
    std::int64_t err;
    std::optional<std::string> ev;
    std::function<void(const APMParameters&)> check;
    std::int64_t code = 0;  // a monitor code that must be logged
};

TEST(APMEventParameterCleaningTest, Scenarios) {
    APMRawParameters many;
    for (int i = 100; i >= 0; --i)
        many.emplace(numbered("p", i), i);
    const std::string longName = std::string(45, 'n');

    const Scenario scenarios[] = {
        {"101 public parameters keep the 100 that sort first", "level_up", many, 5, std::nullopt,
         [](const APMParameters& p) {
             EXPECT_EQ(p.size(), 101u);  // 100 and "_err"
             EXPECT_EQ(p.count("p099"), 1u);
             EXPECT_EQ(p.count("p100"), 0u);
         },
         18017},
        {"250 items on purchase keep 200",
         "purchase",
         {{"items", sdk::Value(items(250))}},
         17,
         "items",
         [](const APMParameters& p) {
             ASSERT_TRUE(p.at("items").isArray());
             EXPECT_EQ(p.at("items").arrayValue()->size(), 200u);
             EXPECT_EQ(p.at("items").arrayValue()->at(199).find("item_id")->string()[0], "sku199");
         }},
        {"items on level_up are dropped",
         "level_up",
         {{"items", sdk::Value(items(1))}, {"score", 3}},
         21,
         "level_up",
         [](const APMParameters& p) {
             EXPECT_EQ(p.count("items"), 0u);
             EXPECT_EQ(intOf(p, "score"), 3);
             EXPECT_EQ(p.count("_el"), 0u);
         }},
        {"products on purchase",
         "purchase",
         {{"products", sdk::Value(items(1))}},
         20,
         "products",
         [](const APMParameters& p) { EXPECT_EQ(p.count("products"), 0u); }},
        {"an item with 30 custom parameters keeps 27",
         "purchase",
         {{"items", sdk::Value(items(1, 30))}},
         0,
         std::nullopt,
         [](const APMParameters& p) {
             const sdk::Value& item = p.at("items").arrayValue()->at(0);
             EXPECT_NE(item.find("custom026"), nullptr);
             EXPECT_EQ(item.find("custom027"), nullptr);
             EXPECT_EQ(item.find("custom029"), nullptr);
             EXPECT_NE(item.find("item_id"), nullptr);  // item parameters are not custom
             EXPECT_EQ(item.find("_err")->intValue(), 28);
         },
         18016},
        {"a 45 code point name",
         "level_up",
         {{longName, 1}, {"ok", 2}},
         3,
         std::string(40, 'n') + "...",
         [](const APMParameters& p) {
             EXPECT_EQ(intOf(p, "_el"), 45);
             EXPECT_EQ(intOf(p, "ok"), 2);
         }},
        {"a second error never replaces the first",
         "level_up",
         {{"a-b", 1}, {"items", sdk::Value(items(1))}, {longName, 1}},
         3,
         "a-b",
         [](const APMParameters& p) { EXPECT_EQ(p.count("_el"), 0u); }},
        {"a long value is dropped with error 4",
         "level_up",
         {{"text", std::string(501, 'v')}},
         4,
         "text",
         [](const APMParameters& p) {
             EXPECT_EQ(intOf(p, "_el"), 501);
             EXPECT_EQ(p.size(), 3u);  // error parameters only
         }},
        {"an app's own _err is an invalid name, not an error record",
         "level_up",
         {{"_err", 1}, {"a-b", 1}},
         3,
         "_err",
         [](const APMParameters& p) { EXPECT_EQ(p.size(), 2u); }},
        {"a date is dropped",
         "level_up",
         {{"when", sdk::Value(sdk::Date{})}, {"n", 1}},
         0,
         std::nullopt,
         [](const APMParameters& p) { EXPECT_EQ(p.count("when"), 0u); },
         18015},
    };
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        sdktest::MonitorRecorder recorder;
        std::optional<APMParameters> cleaned =
            APMCleanEventParameters(s.parameters, s.eventName, true, false, kLimits);
        ASSERT_TRUE(cleaned.has_value());
        if (s.err != 0) {
            EXPECT_EQ(intOf(*cleaned, "_err"), s.err);
        } else {
            EXPECT_EQ(cleaned->count("_err"), 0u);
        }
        EXPECT_EQ(stringOf(*cleaned, "_ev"), s.ev);
        if (s.check) {
            s.check(*cleaned);
        }
        if (s.code != 0) {
            EXPECT_TRUE(recorder.saw(s.code));
        }
    }
}

TEST(APMEventParameterCleaningTest, ValueAndCurrency) {
    struct Case {
        const char* what;
        APMParameters parameters;
        bool valid;
        std::int64_t err;
        const char* ev;
    } cases[] = {
        {"no value", {{"x", APMValue(1.0)}}, true, 0, nullptr},
        {"value abc",
         {{"value", APMValue("abc")}, {"currency", APMValue("USD")}},
         false,
         18,
         "value"},
        {"no currency", {{"value", APMValue(9.99)}}, false, 19, "currency"},
        {"both valid",
         {{"value", APMValue(9.99)}, {"currency", APMValue("EUR")}},
         true,
         0,
         nullptr},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(APMValidateValueAndCurrency(c.parameters, 256), c.valid);
        EXPECT_EQ(c.parameters.count("value"),
                  c.valid && c.err == 0 && c.parameters.count("currency") ? 1u : 0u);
        EXPECT_EQ(intOf(c.parameters, "_err").value_or(0), c.err);
        EXPECT_EQ(stringOf(c.parameters, "_ev"),
                  c.ev ? std::optional<std::string>(c.ev) : std::nullopt);
    }
}

TEST(APMEventParameterCleaningTest, ErrorDetails) {
    // A cut keeps whole code points.
    EXPECT_EQ(APMTrimToLength("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9...");
    EXPECT_EQ(APMTrimToLength("abc", 3), "abc");

    const sdk::Value array(sdk::Value::Array{1, 2, 3});
    APMParameters p;
    APMSetErrorDetails(p, "name", 40, &array);
    EXPECT_EQ(intOf(p, "_el"), 3);
    APMSetErrorDetails(p, "other", 40, nullptr);
    EXPECT_EQ(stringOf(p, "_ev"), "name");

    EXPECT_FALSE(APMErrorEventParameters(0, "x", 40, nullptr).has_value());
    // The value counts only for codes 4 and 7 or a string over the limit.
    const sdk::Value shortText("abc");
    auto withValue = APMErrorEventParameters(7, "prop", 24, &shortText);
    auto withoutValue = APMErrorEventParameters(6, "prop", 24, &shortText);
    ASSERT_TRUE(withValue && withoutValue);
    EXPECT_EQ(intOf(*withValue, "_el"), 3);
    EXPECT_EQ(withoutValue->count("_el"), 0u);
    EXPECT_EQ(intOf(*withoutValue, "_err"), 6);
}

TEST(APMEventParameterCleaningTest, InternalEventsKeepLongerValues) {
    const APMRawParameters parameters{{"_ev", std::string(300, 'e')},
                                      {"text", std::string(300, 't')}};
    auto cleaned = APMCleanEventParameters(parameters, "_err", false, false, {100, 27, 100});
    ASSERT_TRUE(cleaned);
    // "_ev" is cut to the internal limit (256) and counted; a plain value over it is dropped.
    EXPECT_EQ(stringOf(*cleaned, "_ev"), std::string(256, 'e') + "...");
    EXPECT_EQ(intOf(*cleaned, "_el"), 300);
    EXPECT_EQ(cleaned->count("text"), 0u);
    EXPECT_FALSE(APMCleanEventParameters({}, "_e", false, false, kLimits).has_value());

    // An error the parameters carry already stays the event's error.
    const APMRawParameters carried{
        {"_err", APMValue(std::int64_t{13})}, {"_ev", APMValue("x")}, {"a-b", 1}};
    auto kept = APMCleanEventParameters(carried, "_e", false, false, kLimits);
    ASSERT_TRUE(kept);
    EXPECT_EQ(intOf(*kept, "_err"), 13);
    EXPECT_EQ(stringOf(*kept, "_ev"), "x");
    EXPECT_EQ(kept->count("a-b"), 0u);
}

}  // namespace
