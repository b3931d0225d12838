// The per-event counters: checked creation and counts that wrap at the int32 limit.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <vector>

#include "sdk/measurement/engine/APMEventAggregates.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(APMEventAggregatesTest, NewRecordsAreChecked) {
    sdktest::MonitorRecorder recorder;
    auto fresh = APMEventAggregates::initWithName("_e", 0, 0, 0, 5.0);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->lastSamplingRate(), 1);
    EXPECT_FALSE(fresh->lastExemptFromSampling());
    EXPECT_EQ(fresh->lastBundledTimestamp(), 0.0);
    EXPECT_FALSE(fresh->lastSampledComplexEventID().has_value());
    EXPECT_TRUE(recorder.codes().empty());

    EXPECT_FALSE(APMEventAggregates::initWithName("a-b", 0, 0, 0, 5.0));
    EXPECT_FALSE(APMEventAggregates::initWithName("_e", 0, -1, 0, 5.0));
    EXPECT_EQ(recorder.codes(), (std::vector<std::int64_t>{13002, 17000}));
}

TEST(APMEventAggregatesTest, CountsWrapAtTheLimitOneByOne) {
    // Counter i is incremented; the three counts are read in the order lifetime, bundle, session.
    struct Case {
        std::function<void(APMEventAggregates&)> increment;
        std::int64_t code;
    };
    const std::vector<Case> cases = {
        {[](APMEventAggregates& r) { r.incrementLifetimeCount(); }, 17001},
        {[](APMEventAggregates& r) { r.incrementCurrentBundleCount(); }, 17002},
        {[](APMEventAggregates& r) { r.incrementCurrentSessionCount(); }, 17003}};
    const auto countsOf = [](const APMEventAggregates& r) {
        return std::vector<std::int32_t>{r.lifetimeCount(), r.currentBundleCount(),
                                         r.currentSessionCount()};
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        sdktest::MonitorRecorder recorder;
        auto record = APMEventAggregates::initWithName("_e", kMax, kMax, kMax, 1.0);
        ASSERT_TRUE(record);
        cases[i].increment(*record);
        std::vector<std::int32_t> expected = {kMax, kMax, kMax};
        expected[i] = 0;
        EXPECT_EQ(countsOf(*record), expected) << i;
        EXPECT_EQ(recorder.codes(), std::vector<std::int64_t>{cases[i].code});
        cases[i].increment(*record);
        expected[i] = 1;
        EXPECT_EQ(countsOf(*record), expected) << i;
    }
}

}  // namespace
