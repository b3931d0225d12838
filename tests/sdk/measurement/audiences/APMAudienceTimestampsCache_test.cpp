#include "sdk/measurement/audiences/APMAudienceTimestampsCache.h"

#include <gtest/gtest.h>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

using Codes = std::vector<std::int64_t>;
using Exported = std::vector<std::pair<std::int32_t, std::vector<std::int64_t>>>;

constexpr std::int32_t kAudience = 7;

APMEventFilter eventFilter(std::int32_t filterID, bool sessionScoped, bool dynamic, bool sequence) {
    return APMEventFilter(kAudience, filterID, "purchase", {}, sessionScoped, dynamic, sequence);
}

APMPropertyFilter propertyFilter(std::int32_t filterID, bool sequence) {
    return APMPropertyFilter(kAudience, filterID, "level", {}, false, !sequence, sequence);
}

Exported dynamicExport(const APMAudienceTimestampsCache& cache, std::int32_t audience = kAudience) {
    Exported out;
    for (const auto& message : cache.dynamicTimestampsForAudienceID(audience)) {
        namespace slot = apmpb::DynamicFilterResultTimestamp;
        out.emplace_back(static_cast<std::int32_t>(APMPBGetInt32(&message, slot::kFilterId)),
                         std::vector<std::int64_t>{APMPBGetInt64(&message, slot::kTimestamp)});
    }
    return out;
}

Exported sequenceExport(const APMAudienceTimestampsCache& cache) {
    Exported out;
    const auto messages = cache.sequenceTimestampsForAudienceID(kAudience).value();
    for (const auto& message : messages) {
        namespace slot = apmpb::SequenceFilterResultTimestamp;
        std::vector<std::int64_t> seconds;
        const auto elements = APMPBGetRepeated(&message, slot::kEvalTimestamps).value();
        for (const auto& element : elements) {
            seconds.push_back(*std::get<sdk::Value>(element).intValue());
        }
        out.emplace_back(static_cast<std::int32_t>(APMPBGetInt32(&message, slot::kFilterId)),
                         seconds);
    }
    return out;
}

// A stored result whose current data holds these dynamic and sequence timestamps.
APMFilterResult storedResult(const Exported& dynamic, const Exported& sequence) {
    APMPBResultData data;
    APMPBRepeatedArray dynamicMessages, sequenceMessages;
    for (const auto& [filterID, times] : dynamic) {
        auto message = std::make_shared<APMPBDynamicFilterResultTimestamp>();
        APMPBSetInt32(message.get(), apmpb::DynamicFilterResultTimestamp::kFilterId, filterID);
        APMPBSetInt64(message.get(), apmpb::DynamicFilterResultTimestamp::kTimestamp, times[0]);
        dynamicMessages.emplace_back(message);
    }
    for (const auto& [filterID, times] : sequence) {
        auto message = std::make_shared<APMPBSequenceFilterResultTimestamp>();
        APMPBSetInt32(message.get(), apmpb::SequenceFilterResultTimestamp::kFilterId, filterID);
        APMPBRepeatedArray values;
        for (const std::int64_t time : times) {
            values.emplace_back(sdk::Value(time));
        }
        APMPBSetRepeated(message.get(), apmpb::SequenceFilterResultTimestamp::kEvalTimestamps,
                         values);
        sequenceMessages.emplace_back(message);
    }
    APMPBSetRepeated(&data, apmpb::ResultData::kDynamicFilterTimestamps, dynamicMessages);
    APMPBSetRepeated(&data, apmpb::ResultData::kSequenceFilterTimestamps, sequenceMessages);
    return APMFilterResult(kAudience, data.protoBuffer().value(), {});
}

TEST(APMAudienceTimestampsCache, SequenceFiltersKeepOneTimestampPerSecond) {
    APMAudienceTimestampsCache cache;
    cache.populateCachedTimestamps(nullptr, kAudience);
    sdktest::MonitorRecorder recorder;
    cache.addEvaluationTimestamp(100.2, eventFilter(3, false, false, true));
    cache.addEvaluationTimestamp(100.7, eventFilter(3, false, false, true));
    cache.addEvaluationTimestamp(101.0, eventFilter(3, false, false, true));
    cache.addEvaluationTimestamp(50.0, propertyFilter(1, true));
    cache.addEvaluationTimestamp(60.0, propertyFilter(1, true));
    EXPECT_EQ(sequenceExport(cache), (Exported{{1, {60}}, {3, {100, 101}}}));
    EXPECT_EQ(recorder.codes(), Codes{});
}

TEST(APMAudienceTimestampsCache, EarlierTimestampsAreLoggedAsTheyAreKept) {
    APMAudienceTimestampsCache cache;
    cache.populateCachedTimestamps(nullptr, kAudience);
    sdktest::MonitorRecorder recorder;
    cache.addEvaluationTimestamp(200.0, eventFilter(4, false, false, true));
    cache.addEvaluationTimestamp(150.0, eventFilter(4, false, false, true));  // added, 42000
    cache.addEvaluationTimestamp(90.0, propertyFilter(2, true));
    cache.addEvaluationTimestamp(80.0, propertyFilter(2, true));  // replaces, 42001
    cache.addEvaluationTimestamp(300.0, eventFilter(1, false, true, false));
    cache.addEvaluationTimestamp(300.0, eventFilter(1, false, true, false));  // kept first, 6037
    cache.addEvaluationTimestamp(250.0, eventFilter(1, false, true, false));  // 6037
    cache.addEvaluationTimestamp(400.5, eventFilter(5, true, false, false));
    EXPECT_EQ(recorder.codes(), (Codes{42000, 42001, 6037, 6037}));
    EXPECT_EQ(sequenceExport(cache), (Exported{{2, {80}}, {4, {150, 200}}}));
    EXPECT_EQ(dynamicExport(cache), (Exported{{1, {300}}, {5, {400}}}));
}

TEST(APMAudienceTimestampsCache, StaticFiltersAndUnloadedAudiencesRecordNoDynamicTime) {
    APMAudienceTimestampsCache cache;
    cache.addEvaluationTimestamp(10.0, eventFilter(1, false, true, false));
    cache.populateCachedTimestamps(nullptr, kAudience);
    cache.addEvaluationTimestamp(10.0, eventFilter(2, false, false, false));
    EXPECT_EQ(dynamicExport(cache), Exported{});
    EXPECT_EQ(dynamicExport(cache, 99), Exported{});
    EXPECT_FALSE(cache.sequenceTimestampsForAudienceID(99));
}

TEST(APMAudienceTimestampsCache, AReloadKeepsStoredTimesAndEachSequenceFiltersLast) {
    const APMFilterResult stored =
        storedResult({{5, {100}}, {2, {50}}}, {{3, {10, 20, 30}}, {4, {}}, {1, {7}}});
    APMAudienceTimestampsCache cache;
    sdktest::MonitorRecorder recorder;
    cache.populateCachedTimestamps(&stored, kAudience);
    // Loaded once: a later result for the same audience changes nothing.
    const APMFilterResult later = storedResult({{5, {900}}}, {{3, {900}}});
    cache.populateCachedTimestamps(&later, kAudience);
    EXPECT_EQ(dynamicExport(cache), (Exported{{2, {50}}, {5, {100}}}));
    EXPECT_EQ(sequenceExport(cache), (Exported{{1, {7}}, {3, {30}}}));
    EXPECT_EQ(recorder.codes(), Codes{});
    // A dynamic time only grows from what was stored.
    cache.addEvaluationTimestamp(60.0, eventFilter(5, false, true, false));
    EXPECT_EQ(recorder.codes(), Codes{6037});
}

TEST(APMAudienceTimestampsCache, UndecodableResultsLoadNothing) {
    const APMFilterResult corrupt(kAudience, sdk::Bytes{0x1a, 0xff, 0xff}, {});
    APMAudienceTimestampsCache cache;
    cache.populateCachedTimestamps(&corrupt, kAudience);
    EXPECT_EQ(dynamicExport(cache), Exported{});
    EXPECT_EQ(sequenceExport(cache), Exported{});
}

TEST(APMSequenceTimestampsCache, CopiesOutTimestampsPerFilter) {
    APMSequenceTimestampsCache cache(3);
    EXPECT_EQ(cache.audienceID(), 3);
    EXPECT_FALSE(cache.sequenceTimestampsForFilterID(1));
    cache.addEventFilterTimestamp(5.5, 1);
    EXPECT_EQ(cache.sequenceTimestampsForFilterID(1), std::vector<double>{5.5});
}

}  // namespace
