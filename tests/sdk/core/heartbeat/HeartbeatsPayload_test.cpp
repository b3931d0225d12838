#include "sdk/core/heartbeat/HeartbeatsPayload.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "HeartbeatTestSupport.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace heartbeat {
namespace {

using heartbeattest::decodeHeader;
using heartbeattest::utc;

TEST(HeartbeatsPayloadTest, GroupsByAgentSortedWithDatesInInputOrder) {
    const auto payload = HeartbeatsPayload::fromHeartbeats({
        {"b/1", utc(2024, 3, 5), 0, {TimePeriod::daily}},
        {"a/1", utc(2024, 3, 6), 0, {TimePeriod::daily}},
        {"b/1", utc(2024, 3, 7), 0, {TimePeriod::daily}},
    });
    EXPECT_EQ(payload,
              HeartbeatsPayload(
                  {{"a/1", {utc(2024, 3, 6)}}, {"b/1", {utc(2024, 3, 5), utc(2024, 3, 7)}}}, 2));
    EXPECT_EQ(decodeHeader(payload.headerValue()),
              R"({"heartbeats":[{"agent":"a\/1","dates":["2024-03-06"]},)"
              R"({"agent":"b\/1","dates":["2024-03-05","2024-03-07"]}],"version":2})");
}

TEST(HeartbeatsPayloadTest, EmptyPayloadHasAHeaderOfItsOwn) {
    EXPECT_TRUE(HeartbeatsPayload::empty().isEmpty());
    EXPECT_TRUE(HeartbeatsPayload({}, 7).isEmpty());
    EXPECT_EQ(decodeHeader(HeartbeatsPayload::empty().headerValue()),
              R"({"heartbeats":[],"version":2})");
}

TEST(HeartbeatsPayloadTest, AgentThatCannotBeEncodedFallsBackToTheEmptyPayload) {
    const HeartbeatsPayload payload({{"bad\xff", {utc(2024, 3, 5)}}}, 2);
    EXPECT_FALSE(payload.jsonString());
    EXPECT_EQ(payload.headerValue(), HeartbeatsPayload::empty().headerValue());
}

TEST(HeartbeatsPayloadTest, DatesAreUtcDaysWhateverTheTimeZone) {
    sdktest::ScopedEnv zone("TZ", "Pacific/Kiritimati");  // UTC+14
    ::tzset();
    EXPECT_EQ(heartbeatDateString(utc(2024, 3, 5, 23 * 3600 + 1800)), "2024-03-05");
    EXPECT_EQ(heartbeatDateString(utc(2024, 3, 5)), "2024-03-05");
    EXPECT_EQ(heartbeatDateString(utc(1969, 12, 31, 86399)), "1969-12-31");
    EXPECT_EQ(heartbeatDateString(kDistantPast), "0000-12-30");  // proleptic Gregorian
    EXPECT_EQ(heartbeatDateString(sdk::Date::fromTimeIntervalSince1970(1e300)), "32767-12-31");
}

TEST(HeartbeatsPayloadTest, Base64URLMatchesTheReferenceVectors) {
    // RFC 4648 section 10, in the URL-safe alphabet without padding, plus both substitutions.
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},           {"f", "Zg"},          {"fo", "Zm8"},          {"foo", "Zm9v"},
        {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff\xbf", "-_-_"},
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(encodeBase64URL(sdk::Bytes(input.begin(), input.end())), expected) << input;
    }
}

}  // namespace
}  // namespace heartbeat
