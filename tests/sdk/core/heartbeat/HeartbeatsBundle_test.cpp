#include "sdk/core/heartbeat/HeartbeatsBundle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HeartbeatTestSupport.h"

namespace heartbeat {
namespace {

using heartbeattest::utc;

Heartbeat beat(const std::string& agent, sdk::Date date) {
    return {agent, date, 0, {TimePeriod::daily}};
}

// A stored bundle of `slots` empty slots with the given tail index.
std::string emptyBundleJSON(int slots, const std::string& tail) {
    std::string queue;
    for (int i = 0; i < slots; ++i) {
        queue += i == 0 ? "null" : ",null";
    }
    return R"({"capacity":)" + std::to_string(slots) +
           R"(,"lastAddedHeartbeatDates":[1,5],"buffer":{"circularQueue":[)" + queue +
           R"(],"tailIndex":)" + tail + "}}";
}

std::vector<Heartbeat> heartbeats(const HeartbeatsBundle& bundle) {
    return {bundle.buffer().begin(), bundle.buffer().end()};
}

TEST(HeartbeatsBundleTest, FullRingOverwritesTheTailSlotAndForgetsItsDate) {
    HeartbeatsBundle bundle(3);
    for (unsigned day = 1; day <= 3; ++day) {
        bundle.append(beat("a", utc(2024, 3, day)));
    }
    // A table entry that still points at the heartbeat about to be overwritten.
    HeartbeatsBundle stale(3, {{TimePeriod::daily, utc(2024, 3, 1)}});
    for (unsigned day = 1; day <= 3; ++day) {
        stale.append({"a", utc(2024, 3, day), 0, {}});
    }
    stale.append({"b", utc(2024, 3, 4), 0, {}});
    EXPECT_EQ(stale.lastAddedHeartbeatDates().at(TimePeriod::daily), kDistantPast);
    EXPECT_EQ(stale.buffer().tailIndex(), 1);
    EXPECT_EQ(stale.buffer().circularQueue()[0]->agent, "b");

    bundle.append(beat("b", utc(2024, 3, 4)));
    EXPECT_EQ(bundle.lastAddedHeartbeatDates().at(TimePeriod::daily), utc(2024, 3, 4));
}

TEST(HeartbeatsBundleTest, CapacityZeroOrEmptyRing) {
    HeartbeatsBundle none(0);
    const HeartbeatsBundle before = none;
    none.append(beat("a", utc(2024, 3, 5)));
    EXPECT_EQ(none, before);

    // A decoded bundle with a positive capacity but no slots records the date only.
    auto slotless = HeartbeatsBundle::decode(
        R"({"capacity":5,"lastAddedHeartbeatDates":[1,0],"buffer":{"circularQueue":[],"tailIndex":0}})");
    ASSERT_TRUE(slotless);
    slotless->append(beat("a", utc(2024, 3, 5)));
    EXPECT_TRUE(heartbeats(*slotless).empty());
    EXPECT_EQ(slotless->lastAddedHeartbeatDates().at(TimePeriod::daily), utc(2024, 3, 5));
}

TEST(HeartbeatsBundleTest, TailOutsideTheRingIsRepairedWithADiagnosticHeartbeat) {
    for (const char* tail : {"31", "-2"}) {
        auto bundle = HeartbeatsBundle::decode(emptyBundleJSON(30, tail));
        ASSERT_TRUE(bundle) << tail;
        bundle->append(beat("a/1", utc(2024, 3, 5)));
        EXPECT_EQ(bundle->buffer().tailIndex(), 1);
        ASSERT_EQ(heartbeats(*bundle).size(), 1u);
        EXPECT_EQ(heartbeats(*bundle)[0],
                  beat("a/1 error/Out-of-bounds-push-at-index-" + std::string(tail) +
                           "-to-ring-buffer-withend-index-of-30.",
                       utc(2024, 3, 5)));
        EXPECT_EQ(bundle->lastAddedHeartbeatDates(),
                  (HeartbeatsBundle::DateTable{{TimePeriod::daily, utc(2024, 3, 5)}}));
    }
}

TEST(HeartbeatsBundleTest, RemoveHeartbeatDatedTakesOneAndKeepsTheOthersInOrder) {
    HeartbeatsBundle bundle(30);
    for (unsigned day = 1; day <= 3; ++day) {
        bundle.append(beat("a", utc(2024, 3, day)));
    }
    const auto table = bundle.lastAddedHeartbeatDates();

    EXPECT_EQ(bundle.removeHeartbeatDated(utc(2024, 3, 9)), std::nullopt);
    EXPECT_EQ(heartbeats(bundle).size(), 3u);
    // A search that finds nothing shifts every heartbeat one slot back (slot 0 to the end).
    EXPECT_EQ(bundle.buffer().tailIndex(), 2);
    EXPECT_EQ(bundle.buffer().circularQueue()[29]->date, utc(2024, 3, 1));

    EXPECT_EQ(bundle.removeHeartbeatDated(utc(2024, 3, 3)), beat("a", utc(2024, 3, 3)));
    EXPECT_EQ(bundle.buffer().tailIndex(), 1);
    EXPECT_EQ(bundle.removeHeartbeatDated(utc(2024, 3, 1)), beat("a", utc(2024, 3, 1)));
    EXPECT_EQ(heartbeats(bundle), (std::vector<Heartbeat>{beat("a", utc(2024, 3, 2))}));
    EXPECT_EQ(bundle.lastAddedHeartbeatDates(), table);
}

TEST(HeartbeatsBundleTest, MakePayloadGroupsInSlotOrder) {
    HeartbeatsBundle bundle(3);
    bundle.append(beat("b", utc(2024, 3, 5)));
    bundle.append(beat("a", utc(2024, 3, 6)));
    bundle.append(beat("b", utc(2024, 3, 7)));
    bundle.append(beat("c", utc(2024, 3, 8)));  // wraps into slot 0
    EXPECT_EQ(
        bundle.makePayload(),
        HeartbeatsPayload(
            {{"a", {utc(2024, 3, 6)}}, {"b", {utc(2024, 3, 7)}}, {"c", {utc(2024, 3, 8)}}}, 2));
}

TEST(HeartbeatsBundleTest, EncodesTheStoredFormat) {
    EXPECT_EQ(nlohmann::json::parse(*HeartbeatsBundle(2).encode()),
              nlohmann::json::parse(R"({"capacity":2,"lastAddedHeartbeatDates":[1,-63114076800],
                  "buffer":{"circularQueue":[null,null],"tailIndex":0}})"));

    HeartbeatsBundle bundle(2);
    bundle.append(beat("a/1", utc(2024, 3, 5)));
    const auto decoded = HeartbeatsBundle::decode(*bundle.encode());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, bundle);

    HeartbeatsBundle notFinite(2);
    notFinite.append(beat("a", sdk::Date::fromTimeIntervalSince1970(std::nan(""))));
    EXPECT_FALSE(notFinite.encode());
}

TEST(HeartbeatsBundleTest, DecodeRefusesAnythingButTheStoredFormat) {
    const std::string ring = R"("buffer":{"circularQueue":[null],"tailIndex":0})";
    const std::string beatOf = R"({"agent":"a","date":1,"version":0,"timePeriods":)";
    const std::string cases[] = {
        "{}",
        "",
        R"({"capacity":1,"lastAddedHeartbeatDates":[1,0],)" + ring.substr(0, 20),
        R"({"capacity":1,"lastAddedHeartbeatDates":[1],)" + ring + "}",
        R"({"capacity":1,"lastAddedHeartbeatDates":[2,0],)" + ring + "}",
        R"({"capacity":1,"lastAddedHeartbeatDates":[1,"x"],)" + ring + "}",
        R"({"capacity":"1","lastAddedHeartbeatDates":[1,0],)" + ring + "}",
        R"({"capacity":4097,"lastAddedHeartbeatDates":[1,0],)" + ring + "}",
        R"({"lastAddedHeartbeatDates":[1,0],)" + ring + "}",
        R"({"capacity":1,"lastAddedHeartbeatDates":{"1":0},)" + ring + "}",
        R"({"capacity":1,"lastAddedHeartbeatDates":[1,0],"buffer":{"circularQueue":[)" + beatOf +
            R"([2]}],"tailIndex":0}})",
        R"({"capacity":1,"lastAddedHeartbeatDates":[1,0],"buffer":{"circularQueue":[)" + beatOf +
            R"([1],"version":"0"}],"tailIndex":0}})",
        R"({"capacity":1,"lastAddedHeartbeatDates":[1,0],"buffer":{"circularQueue":[{"agent":"a","date":1,"version":0}],"tailIndex":0}})",
    };
    for (const auto& text : cases) {
        EXPECT_FALSE(HeartbeatsBundle::decode(text)) << text;
    }
}

TEST(HeartbeatsBundleTest, RepeatedPeriodKeepsTheLaterDate) {
    const auto bundle = HeartbeatsBundle::decode(
        R"({"capacity":1,"lastAddedHeartbeatDates":[1,10,1,20.5],"buffer":{"circularQueue":[null],"tailIndex":0}})");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->lastAddedHeartbeatDates(),
              (HeartbeatsBundle::DateTable{
                  {TimePeriod::daily, sdk::Date::fromTimeIntervalSinceReferenceDate(20.5)}}));
}

}  // namespace
}  // namespace heartbeat
