#include "sdk/measurement/audiences/APMFilterEvaluation.h"

#include <gtest/gtest.h>

#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/audiences/AudienceTestSupport.h"

namespace {

using namespace audiencetest;
using Codes = std::vector<std::int64_t>;

constexpr std::uint32_t kGreater = 2, kEqual = 3, kExact = 5;

const APMParameters kParameters = {
    {"count", APMValue(std::int64_t{3})},
    {"label", APMValue("5")},
    {"price", APMValue(2.5)},
};

APMEventAggregates aggregates(std::string name = "purchase") {
    return APMEventAggregates(std::move(name), /*lifetimeCount=*/10, /*currentBundleCount=*/1,
                              /*currentSessionCount=*/2, 0.0);
}

TEST(APMEventFilter, NoResultChecksComeInOrder) {
    const APMPBNumberFilter above2 = numberFilter(kGreater, "2");
    const APMPBFilter unnamed = numberFilterOf(above2);
    const APMPBFilter missing = numberFilterOf(above2, "absent");
    const APMPBFilter labelAsNumber = numberFilterOf(above2, "label");
    const APMPBEventFilter counted = eventFilter(1, "purchase", {}, &above2);
    struct NoResult {
        const char* what;
        std::optional<APMPBEventFilter> filter;
        std::string eventName;
        std::int64_t code;
    };
    const NoResult cases[] = {
        {"no filter", std::nullopt, "purchase", 7004},
        {"no event name", eventFilter(1, "purchase"), "", 7005},
        {"another event", eventFilter(1, "refund"), "purchase", 7006},
        {"no event name in the filter", eventFilter(1, std::nullopt), "purchase", 7006},
        {"unnamed parameter filter", eventFilter(1, "purchase", {unnamed}), "purchase", 7008},
        {"missing parameter", eventFilter(1, "purchase", {missing}), "purchase", 7009},
        {"string parameter, number filter", eventFilter(1, "purchase", {labelAsNumber}), "purchase",
         7010},
    };
    const APMEventAggregates counts = aggregates();
    for (const NoResult& c : cases) {
        sdktest::MonitorRecorder recorder;
        EXPECT_EQ(APMEvaluateEventFilter(c.filter ? &*c.filter : nullptr, c.eventName, kParameters,
                                         &counts),
                  std::nullopt)
            << c.what;
        EXPECT_EQ(recorder.codes(), Codes{c.code}) << c.what;
    }
    sdktest::MonitorRecorder recorder;
    const APMEventAggregates otherCounts = aggregates("refund");
    EXPECT_EQ(APMEvaluateEventFilter(&counted, "purchase", kParameters, &otherCounts),
              std::nullopt);
    EXPECT_EQ(APMEvaluateEventFilter(&counted, "purchase", kParameters, nullptr), std::nullopt);
    EXPECT_EQ(recorder.codes(), (Codes{7007, 7007}));
    EXPECT_EQ(recorder.messages()[0].level, 1);
}

TEST(APMEventFilter, ANameOnlyFilterMatchesEveryEventOfThatName) {
    const APMPBEventFilter filter = eventFilter(1, "purchase");
    const APMEventAggregates counts = aggregates();
    EXPECT_EQ(APMEvaluateEventFilter(&filter, "purchase", {}, &counts), true);
    EXPECT_EQ(APMEvaluateEventFilter(&filter, "purchase", kParameters, nullptr), true);
}

TEST(APMEventFilter, SessionScopedFiltersCountTheCurrentSession) {
    const APMPBNumberFilter two = numberFilter(kEqual, "2");
    const APMPBNumberFilter ten = numberFilter(kEqual, "10");
    const APMEventAggregates counts = aggregates();  // lifetime 10, session 2
    for (const bool sessionScoped : {false, true}) {
        const APMPBEventFilter countsTwo = eventFilter(1, "purchase", {}, &two, sessionScoped);
        const APMPBEventFilter countsTen = eventFilter(1, "purchase", {}, &ten, sessionScoped);
        EXPECT_EQ(APMEvaluateEventFilter(&countsTwo, "purchase", {}, &counts), sessionScoped);
        EXPECT_EQ(APMEvaluateEventFilter(&countsTen, "purchase", {}, &counts), !sessionScoped);
    }
}

TEST(APMEventFilter, EveryParameterFilterMustHold) {
    const APMPBNumberFilter above2 = numberFilter(kGreater, "2");
    const APMPBStringFilter five = stringFilter(kExact, "5");
    const APMPBFilter count = numberFilterOf(above2, "count");
    const APMPBFilter price = numberFilterOf(above2, "price");
    const APMPBFilter label = stringFilterOf(five, "label");
    const APMPBNumberFilter countFilter = numberFilter(kGreater, "20");
    const APMEventAggregates counts = aggregates();
    const APMPBEventFilter all = eventFilter(1, "purchase", {count, label, price}, &countFilter);
    const APMPBEventFilter twoHold = eventFilter(1, "purchase", {count, label});
    sdktest::MonitorRecorder recorder;
    EXPECT_EQ(APMEvaluateEventFilter(&all, "purchase", kParameters, &counts), false)
        << "the lifetime count 10 is not above 20";
    EXPECT_EQ(APMEvaluateEventFilter(&twoHold, "purchase", kParameters, &counts), true);
    EXPECT_EQ(recorder.codes(), Codes{});
}

TEST(APMPropertyFilter, NoResultChecks) {
    const APMPBNumberFilter five = numberFilter(kEqual, "5");
    const APMPBFilter filter = numberFilterOf(five);
    const APMPBPropertyFilter level = propertyFilter(1, "level", &filter);
    const APMPBPropertyFilter other = propertyFilter(1, "score", &filter);
    const APMPBPropertyFilter empty = propertyFilter(1, "level", nullptr);
    const auto attribute = APMUserAttribute::initWithOrigin("app", "level", APMValue("5"), 1.0);
    ASSERT_TRUE(attribute);
    sdktest::MonitorRecorder recorder;
    EXPECT_EQ(APMEvaluatePropertyFilter(nullptr, &*attribute), std::nullopt);
    EXPECT_EQ(APMEvaluatePropertyFilter(&level, nullptr), std::nullopt);
    EXPECT_EQ(APMEvaluatePropertyFilter(&other, &*attribute), std::nullopt);
    EXPECT_EQ(APMEvaluatePropertyFilter(&empty, &*attribute), std::nullopt);
    EXPECT_EQ(recorder.codes(), (Codes{7011, 7012, 7013, 7014}));
}

TEST(APMPropertyFilter, ANumericStringPropertyComparesAsANumber) {
    const APMPBNumberFilter five = numberFilter(kEqual, "5");
    const APMPBFilter filter = numberFilterOf(five);
    const APMPBPropertyFilter level = propertyFilter(1, "level", &filter);
    for (const APMValue& value : {APMValue("5"), APMValue(std::int64_t{5}), APMValue(5.0)}) {
        const auto attribute = APMUserAttribute::initWithOrigin("app", "level", value, 1.0);
        ASSERT_TRUE(attribute);
        EXPECT_EQ(APMEvaluatePropertyFilter(&level, &*attribute), true) << value.description();
    }
    const auto six = APMUserAttribute::initWithOrigin("app", "level", APMValue("6"), 1.0);
    EXPECT_EQ(APMEvaluatePropertyFilter(&level, &*six), false);
}

}  // namespace
