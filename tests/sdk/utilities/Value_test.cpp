#include "sdk/utilities/Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace sdk {
namespace {

TEST(ValueTest, EachConstructorGivesItsType) {
    struct Case {
        Value value;
        Value::Type type;
    };
    const Case cases[] = {
        {Value(), Value::Type::kNull},
        {Value(nullptr), Value::Type::kNull},
        {Value(true), Value::Type::kBool},
        {Value(7), Value::Type::kInt},
        {Value(std::uint8_t{7}), Value::Type::kInt},
        {Value(-7L), Value::Type::kInt},
        {Value(1.5), Value::Type::kDouble},
        {Value(1.5f), Value::Type::kDouble},
        {Value("text"), Value::Type::kString},
        {Value(std::string("text")), Value::Type::kString},
        {Value(std::string_view("text")), Value::Type::kString},
        {Value(Bytes{1, 2}), Value::Type::kBytes},
        {Value(Date::fromTimeIntervalSince1970(5)), Value::Type::kDate},
        {Value(Value::Array{1, "a"}), Value::Type::kArray},
        {Value(Value::Dictionary{{"k", 1}}), Value::Type::kDictionary},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.type(), c.type) << c.value.description();
    }
}

TEST(ValueTest, BooleanStaysDistinctFromInteger) {
    const Value yes(true);
    const Value one(1);
    EXPECT_NE(yes, one);
    EXPECT_FALSE(yes.isInt());
    EXPECT_FALSE(one.isBool());
    EXPECT_FALSE(yes.intValue().has_value());
    EXPECT_FALSE(one.boolValue().has_value());
    // As Foundation numbers both read as 1 / true.
    EXPECT_TRUE(yes.isNumber());
    EXPECT_EQ(yes.numberAsInt(), 1);
    EXPECT_EQ(one.numberAsBool(), true);
    EXPECT_FALSE(Value("1").numberAsInt().has_value());
}

TEST(ValueTest, NumberConversionsSaturate) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(Value(std::numeric_limits<std::uint64_t>::max()).intValue(), kMax);
    EXPECT_EQ(Value(1e300).numberAsInt(), kMax);
    EXPECT_EQ(Value(-1e300).numberAsInt(), kMin);
    EXPECT_EQ(Value(std::nan("")).numberAsInt(), 0);
    EXPECT_EQ(Value(-2.9).numberAsInt(), -2);
    EXPECT_EQ(Value(kMax).numberAsDouble(), 9223372036854775808.0);
    EXPECT_EQ(Value(0.0).numberAsBool(), false);
}

TEST(ValueTest, DictionariesIterateInKeyOrderAndFindEntries) {
    Value value(Value::Dictionary{{"b", 2}, {"a", 1}, {"c", Value()}});
    std::string keys;
    for (const auto& [key, item] : *value.dictionary()) {
        keys += key;
    }
    EXPECT_EQ(keys, "abc");
    ASSERT_NE(value.find("a"), nullptr);
    EXPECT_EQ(*value.find("a"), Value(1));
    EXPECT_EQ(value.find("z"), nullptr);
    EXPECT_EQ(Value(1).find("a"), nullptr);
    (*value.dictionary())["d"] = "new";
    EXPECT_EQ(value.find("d")->string() != nullptr, true);
    EXPECT_EQ(value.description(), R"({"a": 1, "b": 2, "c": null, "d": "new"})");
}

TEST(ValueTest, CopiesAreDeep) {
    Value original(Value::Array{Value::Dictionary{{"k", "v"}}});
    Value copy = original;
    (*(*copy.array())[0].dictionary())["k"] = "changed";
    EXPECT_EQ(*original.array()->at(0).find("k"), Value("v"));
    EXPECT_NE(original, copy);
}

TEST(ValueTest, DescriptionRendersEveryType) {
    Value value(Value::Array{Value(), false, -3, 0.5, "q\"", Bytes{0x0f, 0xa0},
                             Date::fromTimeIntervalSince1970(1.5)});
    EXPECT_EQ(value.description(), R"([null, false, -3, 0.5, "q\"", <0fa0>, date(1.500)])");
}

TEST(DateTest, ReferenceDateOffset) {
    const Date date = Date::fromTimeIntervalSinceReferenceDate(0);
    EXPECT_EQ(date.timeIntervalSince1970(), 978307200.0);
    EXPECT_EQ(date.timeIntervalSinceReferenceDate(), 0.0);
    EXPECT_LT(Date(), date);
    EXPECT_GT(Date::now(), date);
}

}  // namespace
}  // namespace sdk
