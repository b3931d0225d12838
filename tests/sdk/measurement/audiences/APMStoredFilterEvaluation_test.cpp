#include "sdk/measurement/audiences/APMStoredFilterEvaluation.h"

#include <gtest/gtest.h>

#include "sdk/measurement/audiences/APMUserAttributeFromNano.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/audiences/AudienceTestSupport.h"

namespace {

using Codes = std::vector<std::int64_t>;

constexpr std::uint32_t kEqual = 3;
const sdk::Bytes kCorrupt = {0x12, 0x40, 0x61};  // a string field longer than the data

struct Flags {
    bool sessionScoped, dynamic, sequence;
};

APMPropertyFilter storedLevelEquals(const char* number, Flags flags, sdk::Bytes data = {}) {
    if (data.empty()) {
        const APMPBNumberFilter equal = audiencetest::numberFilter(kEqual, number);
        const APMPBFilter filter = audiencetest::numberFilterOf(equal);
        data = audiencetest::propertyFilter(1, "level", &filter).protoBuffer().value();
    }
    return APMPropertyFilter(4, 1, "level", data, flags.sessionScoped, flags.dynamic,
                             flags.sequence);
}

APMUserAttribute level(std::int64_t value) {
    return *APMUserAttribute::initWithOrigin("app", "level", APMValue(value), 1.0);
}

TEST(APMStoredFilterEvaluation, StoredEventFiltersDecodeAndRun) {
    const APMPBNumberFilter equal = audiencetest::numberFilter(kEqual, "2");
    const APMPBFilter count = audiencetest::numberFilterOf(equal, "count");
    const sdk::Bytes data = audiencetest::eventFilter(1, "purchase", {count}).protoBuffer().value();
    const APMEventFilter stored(4, 1, "purchase", data, false, false, false);
    EXPECT_EQ(APMEvaluateStoredEventFilter(stored, {{"count", APMValue(std::int64_t{2})}}, nullptr),
              true);
    EXPECT_EQ(APMEvaluateStoredEventFilter(stored, {{"count", APMValue(std::int64_t{3})}}, nullptr),
              false);
}

TEST(APMStoredFilterEvaluation, UndecodableDataGivesNoResult) {
    sdktest::MonitorRecorder recorder;
    for (const sdk::Bytes& data : {sdk::Bytes{}, kCorrupt}) {
        EXPECT_EQ(APMEvaluateStoredEventFilter(
                      APMEventFilter(4, 1, "purchase", data, false, true, false), {}, nullptr),
                  std::nullopt);
        EXPECT_EQ(APMEvaluateStoredPropertyFilter(
                      false, APMPropertyFilter(4, 1, "level", data, false, false, false), level(1)),
                  std::nullopt);
    }
    EXPECT_EQ(recorder.codes(), (Codes{6035, 6036, 6035, 6036}));
    const auto contexts = recorder.messages()[0].contexts;
    ASSERT_EQ(contexts.size(), 4u);
    EXPECT_EQ(contexts[0].description(), "purchase");
    EXPECT_EQ(contexts[1].description(), "1");
    EXPECT_EQ(contexts[2].description(), "4");
    EXPECT_EQ(contexts[3].description(), "1");
}

TEST(APMStoredFilterEvaluation, ATruePropertyFilterTurnsFalseOnlyWhenItMayChange) {
    struct Case {
        const char* what;
        bool wasTrue;
        Flags flags;
        std::int64_t value;
        std::optional<bool> expected;
    };
    const Case cases[] = {
        {"static, was true, now false: unchanged", true, {false, false, false}, 6, std::nullopt},
        {"static, was true, still true", true, {false, false, false}, 5, true},
        {"static, first evaluation", false, {false, false, false}, 6, false},
        {"dynamic", true, {false, true, false}, 6, false},
        {"sequence", true, {false, false, true}, 6, false},
        {"session-scoped", true, {true, false, false}, 6, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(APMEvaluateStoredPropertyFilter(c.wasTrue, storedLevelEquals("5", c.flags),
                                                  level(c.value)),
                  c.expected)
            << c.what;
    }
}

TEST(APMStoredFilterEvaluation, WhatIsEvaluatedAndWhatIsTaken) {
    struct Row {
        Flags flags;
        bool evaluatedWhenTrue;
        bool falseTaken;
    };
    const Row rows[] = {
        {{false, false, false}, false, false}, {{false, true, false}, true, true},
        {{false, false, true}, true, false},   {{true, false, false}, true, false},
        {{true, true, false}, true, false},
    };
    for (const Row& row : rows) {
        const APMPropertyFilter filter = storedLevelEquals("5", row.flags);
        const APMEventFilter event(4, 1, "e", {}, row.flags.sessionScoped, row.flags.dynamic,
                                   row.flags.sequence);
        EXPECT_TRUE(APMShouldEvaluateFilter(false, filter));
        EXPECT_EQ(APMShouldEvaluateFilter(true, filter), row.evaluatedWhenTrue);
        EXPECT_EQ(APMShouldEvaluateFilter(true, event), row.evaluatedWhenTrue);
        EXPECT_TRUE(APMShouldTakePropertyResult(true, filter));
        EXPECT_EQ(APMShouldTakePropertyResult(false, filter), row.falseTaken);
    }
}

TEST(APMStoredFilterEvaluation, ResultBitsAddressWordsOf64) {
    EXPECT_EQ(APMFilterResultWordIndex(63), 0);
    EXPECT_EQ(APMFilterResultBitIndex(63), 63);
    EXPECT_EQ(APMFilterResultWordIndex(64), 1);
    EXPECT_EQ(APMFilterResultBitIndex(64), 0);
    EXPECT_FALSE(APMHasAnyBitSet({}));
    EXPECT_FALSE(APMHasAnyBitSet({0, 0}));
    EXPECT_TRUE(APMHasAnyBitSet({0, std::uint64_t{1} << 63}));
}

TEST(APMUserAttributeFromNano, TakesStringThenDoubleThenInteger) {
    namespace slot = apmpb::UserAttribute;
    APMPBUserAttribute wire;
    APMPBSetString(&wire, slot::kName, "level");
    APMPBSetInt64(&wire, slot::kSetTimestampMillis, 1500);
    APMPBSetFloat(&wire, slot::kFloatValue, 2.5f);
    EXPECT_FALSE(APMUserAttributeFromNano(wire)) << "a float alone is not read";
    APMPBSetInt64(&wire, slot::kIntValue, 7);
    EXPECT_EQ(APMUserAttributeFromNano(wire)->value(), APMValue(std::int64_t{7}));
    APMPBSetDouble(&wire, slot::kDoubleValue, 1.25);
    EXPECT_EQ(APMUserAttributeFromNano(wire)->value(), APMValue(1.25));
    APMPBSetString(&wire, slot::kStringValue, "gold");
    const std::optional<APMUserAttribute> attribute = APMUserAttributeFromNano(wire);
    ASSERT_TRUE(attribute);
    EXPECT_EQ(attribute->value(), APMValue("gold"));
    EXPECT_EQ(attribute->name(), "level");
    EXPECT_EQ(attribute->origin(), "");
    EXPECT_DOUBLE_EQ(attribute->lastSetTimestamp(), 1.5);
}

TEST(APMUserAttributeFromNano, AnInvalidNameGivesNone) {
    APMPBUserAttribute wire;
    APMPBSetInt64(&wire, apmpb::UserAttribute::kIntValue, 7);
    EXPECT_FALSE(APMUserAttributeFromNano(wire));
}

}  // namespace
