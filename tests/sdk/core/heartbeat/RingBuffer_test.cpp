#include "sdk/core/heartbeat/RingBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sdk/core/heartbeat/JSONCoding.h"

namespace heartbeat {
namespace {

using Ring = RingBuffer<std::string>;

std::vector<std::string> traverse(const Ring& ring) {
    return {ring.begin(), ring.end()};
}

TEST(RingBufferTest, PushesWrapAndPopsReturnNewestFirst) {
    Ring ring(3);
    EXPECT_FALSE(ring.push("a").overwritten);
    EXPECT_FALSE(ring.push("b").overwritten);
    EXPECT_FALSE(ring.push("c").overwritten);
    const auto fourth = ring.push("d");
    ASSERT_TRUE(fourth.ok());
    EXPECT_EQ(fourth.overwritten, "a");
    EXPECT_EQ(ring.circularQueue(), (Ring::Slots{"d", "b", "c"}));
    EXPECT_EQ(ring.tailIndex(), 1);
    EXPECT_EQ(traverse(ring), (std::vector<std::string>{"d", "b", "c"}));

    EXPECT_EQ(ring.pop(), "d");
    EXPECT_EQ(ring.pop(), "c");
    EXPECT_EQ(ring.pop(), "b");
    EXPECT_EQ(ring.pop(), std::nullopt);
    EXPECT_EQ(ring.tailIndex(), 0);
    EXPECT_TRUE(traverse(ring).empty());
}

TEST(RingBufferTest, RingWithoutSlotsTakesNothing) {
    Ring ring(0);
    const auto pushed = ring.push("a");
    EXPECT_TRUE(pushed.ok());
    EXPECT_FALSE(pushed.overwritten);
    EXPECT_EQ(ring.pop(), std::nullopt);
    EXPECT_TRUE(traverse(ring).empty());
    EXPECT_EQ(ring.tailIndex(), 0);
}

TEST(RingBufferTest, DecodedTailOutsideTheRingRefusesPush) {
    for (const std::int64_t tail : {std::int64_t{3}, std::int64_t{-1}}) {
        Ring ring(Ring::Slots{"x", std::nullopt, "z"}, tail);
        const Ring before = ring;
        const auto pushed = ring.push("new");
        ASSERT_FALSE(pushed.ok()) << tail;
        EXPECT_EQ(*pushed.error, (RingBufferError{tail, 3}));
        EXPECT_EQ(ring, before);
    }
    EXPECT_EQ(RingBufferError({3, 3}).description(),
              "Out-of-bounds push at index 3 to ring buffer withend index of 3.");
}

// A tail beyond the slots (or one that cannot be moved back without overflow) must not let
// pop touch memory outside the ring; the ring stays as it was.
TEST(RingBufferTest, PopWithTailBeyondTheRingChangesNothing) {
    for (const std::int64_t tail :
         {std::int64_t{99}, std::int64_t{4}, std::numeric_limits<std::int64_t>::min()}) {
        Ring ring(Ring::Slots{"x", "y", "z"}, tail);
        const Ring before = ring;
        EXPECT_EQ(ring.pop(), std::nullopt) << tail;
        EXPECT_EQ(ring, before) << tail;
    }
}

// The edges that stay inside the ring once moved back: a tail at the slot count and a
// negative one both wrap to the last slot.
TEST(RingBufferTest, PopWithTailAtTheEndOrNegativeTakesTheLastSlot) {
    for (const std::int64_t tail : {std::int64_t{3}, std::int64_t{-1}, std::int64_t{-7}}) {
        Ring ring(Ring::Slots{"x", "y", "z"}, tail);
        EXPECT_EQ(ring.pop(), "z") << tail;
        EXPECT_EQ(ring.tailIndex(), 2) << tail;
    }
}

TEST(RingBufferTest, CodesEmptySlotsAsNullAndRoundTrips) {
    Ring ring(3);
    (void)ring.push("a");
    const auto encode = [](const std::string& s) { return std::optional(nlohmann::json(s)); };
    const auto decode = [](const nlohmann::json& j) {
        return j.is_string() ? std::optional(j.get<std::string>()) : std::nullopt;
    };
    const auto coded = json::encodeRing(ring, encode);
    ASSERT_TRUE(coded);
    EXPECT_EQ(coded->dump(), R"({"circularQueue":["a",null,null],"tailIndex":1})");
    EXPECT_EQ(json::decodeRing<std::string>(*coded, decode), ring);

    for (const char* bad :
         {R"({"circularQueue":["a"]})", R"({"tailIndex":0})",
          R"({"circularQueue":["a"],"tailIndex":"0"})",
          R"({"circularQueue":["a"],"tailIndex":0.5})", R"({"circularQueue":[1],"tailIndex":0})"}) {
        EXPECT_FALSE(json::decodeRing<std::string>(nlohmann::json::parse(bad), decode)) << bad;
    }
}

}  // namespace
}  // namespace heartbeat
