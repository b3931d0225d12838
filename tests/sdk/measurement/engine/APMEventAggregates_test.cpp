// The per-event counters: checked creation and counts that wrap at the int32 limit.
#include <gtest/gtest.h>

#include <limits>

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
    struct Case {
        void (APMEventAggregates::*increment)();
        std::int64_t code;
    } cases[] = {{&APMEventAggregates::incrementLifetimeCount, 17001},
                 {&APMEventAggregates::incrementCurrentBundleCount, 17002},
                 {&APMEventAggregates::incrementCurrentSessionCount, 17003}};
    for (int i = 0; i < 3; ++i) {
        sdktest::MonitorRecorder recorder;
        auto record = APMEventAggregates::initWithName("_e", kMax, kMax, kMax, 1.0);
        ASSERT_TRUE(record);
        ((*record).*cases[i].increment)();
        const std::int32_t counts[] = {record->lifetimeCount(), record->currentBundleCount(),
                                       record->currentSessionCount()};
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(counts[j], i == j ? 0 : kMax) << i << " " << j;
        EXPECT_EQ(recorder.codes(), std::vector<std::int64_t>{cases[i].code});
        ((*record).*cases[i].increment)();
        EXPECT_EQ(i == 0 ? record->lifetimeCount()
                         : (i == 1 ? record->currentBundleCount() : record->currentSessionCount()),
                  1);
    }
}

}  // namespace
