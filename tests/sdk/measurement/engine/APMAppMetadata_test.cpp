#include "sdk/measurement/engine/APMAppMetadata.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(APMAppMetadata, ANegativeBundleIndexMakesNoRecord) {
    sdktest::MonitorRecorder recorder;
    EXPECT_FALSE(APMAppMetadata::create(-1, 0.0, 0.0));
    EXPECT_EQ(recorder.codes(), std::vector<std::int64_t>{4000});
    const std::optional<APMAppMetadata> made = APMAppMetadata::create(5, 1.5, 2.5);
    ASSERT_TRUE(made);
    EXPECT_EQ(made->lastDeliveryIndex(), 0);
    EXPECT_EQ(made->lastBundleEndTimestamp(), 2.5);
}

TEST(APMAppMetadata, BundleIndexWrapsToNumberTheNewBundlesFromZero) {
    struct Case {
        std::int32_t start;
        std::int64_t count;
        std::int32_t expected;
        bool wraps;
    };
    const Case cases[] = {
        {2147483646, 3, 2, true},
        {kMax - 1, 1, kMax, false},
        {kMax, 1, 0, true},
        {10, 5, 15, false},
        {10, 0, 10, false},
        {10, -4, 10, false},
        {0, std::numeric_limits<std::int64_t>::max(), kMax, false},
    };
    for (const Case& c : cases) {
        sdktest::MonitorRecorder recorder;
        APMAppMetadata metadata(c.start, 0, 0, 0);
        metadata.increaseLastBundleIndex(c.count);
        EXPECT_EQ(metadata.lastBundleIndex(), c.expected) << c.start << " + " << c.count;
        EXPECT_EQ(recorder.saw(4001), c.wraps) << c.start << " + " << c.count;
    }
}

TEST(APMAppMetadata, DeliveryIndexResetsAtTheTop) {
    sdktest::MonitorRecorder recorder;
    APMAppMetadata metadata(0, kMax - 1, 0, 0);
    metadata.incrementLastDeliveryIndex();
    EXPECT_EQ(metadata.lastDeliveryIndex(), kMax);
    EXPECT_TRUE(recorder.codes().empty());
    metadata.incrementLastDeliveryIndex();
    EXPECT_EQ(metadata.lastDeliveryIndex(), 0);
    EXPECT_EQ(recorder.codes(), std::vector<std::int64_t>{4002});
    EXPECT_EQ(recorder.messages()[0].level, 5);
}

}  // namespace
