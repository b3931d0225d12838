// Wire rules of the codec and its behaviour on hostile input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "sdk/measurement/messages/NanoRoutines.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;
namespace codec = apmpb::MessageCodec;

namespace {

sdk::Bytes bytesOf(std::initializer_list<int> values) {
    sdk::Bytes out;
    for (int v : values)
        out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

std::size_t varintSize(std::uint64_t value) {
    std::size_t n = 1;
    while (value >>= 7)
        ++n;
    return n;
}

// `levels` RuntimeEntity messages, each the only `value` element of the one outside it; the
// innermost is a string entity.
// `levels` messages, each the only element of its parent's repeated field `key` (the field's
// tag byte); the innermost holds `innermost`.
sdk::Bytes nestedMessages(std::size_t levels, std::uint8_t key, const sdk::Bytes& innermost) {
    std::vector<std::size_t> lengths(levels);  // encoded length of the message at each level
    lengths[levels - 1] = innermost.size();
    for (std::size_t i = levels - 1; i-- > 0;) {
        lengths[i] = 1 + varintSize(lengths[i + 1]) + lengths[i + 1];
    }
    sdk::Bytes out;
    out.reserve(lengths[0]);
    for (std::size_t i = 0; i + 1 < levels; ++i) {
        out.push_back(key);
        appendVarint(out, lengths[i + 1]);
    }
    out.insert(out.end(), innermost.begin(), innermost.end());
    return out;
}

sdk::Bytes nestedEntities(std::size_t levels) {
    return nestedMessages(levels, 0x12, bytesOf({0x08, 0x01}));
}

sdk::Bytes fullBundle() {
    AnyMessage bundle(apmpb::kMeasurementBundleType);
    fill(bundle, 0);
    return *bundle.protoBuffer();
}

}  // namespace

TEST(MessageCodec, PackedRepeatedScalarsDecodeLikeUnpackedAndGoOutUnpacked) {
    const sdk::Bytes unpacked = bytesOf({0x08, 0x01, 0x08, 0xAC, 0x02});
    const sdk::Bytes packed = bytesOf({0x0A, 0x03, 0x01, 0xAC, 0x02});
    for (const auto& input : {packed, unpacked}) {
        auto data = APMPBResultData::initWithBuffer(input);
        ASSERT_NE(data, nullptr);
        const auto status = APMPBGetRepeated(data.get(), 0);
        ASSERT_TRUE(status);
        EXPECT_EQ(*status, (APMPBRepeatedArray{sdk::Value(1), sdk::Value(300)}));
        EXPECT_EQ(data->protoBuffer(), unpacked);
    }
}

TEST(MessageCodec, FirstStringAndLastScalarWinUndeclaredFieldsDrop) {
    // name "a", timestamp 1, field 9 (varint, fixed64, bytes, fixed32), name "b", timestamp 2.
    const sdk::Bytes input =
        bytesOf({0x12, 0x01, 'a',  0x18, 0x01, 0x48, 0x07, 0x49, 1, 2,    3,    4,   5,    6,   7,
                 8,    0x4A, 0x01, 'x',  0x4D, 1,    2,    3,    4, 0x12, 0x01, 'b', 0x18, 0x02});
    auto event = APMPBEvent::initWithBuffer(input);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(APMPBGetString(event.get(), 1), "a");
    EXPECT_EQ(APMPBGetInt64(event.get(), 2), 2);
    EXPECT_EQ(event->protoBuffer(), bytesOf({0x12, 0x01, 'a', 0x18, 0x02}));
}

TEST(MessageCodec, AbsentChildIsNullEmptyChildIsPresentEmptyStringSurvives) {
    auto absent = APMPBAudienceLeafFilterResult::initWithBuffer(bytesOf({0x08, 0x05}));
    ASSERT_NE(absent, nullptr);
    EXPECT_FALSE(APMPBHasField(absent.get(), 1));
    EXPECT_EQ(APMPBGetMessage<APMPBResultData>(absent.get(), 1), nullptr);

    auto empty = APMPBAudienceLeafFilterResult::initWithBuffer(bytesOf({0x12, 0x00}));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(APMPBHasField(empty.get(), 1));
    EXPECT_FALSE(APMPBHasField(empty.get(), 2));
    EXPECT_EQ(empty->protoBuffer(), bytesOf({0x12, 0x00}));

    APMPBEvent event;
    APMPBSetString(&event, 1, "");
    const auto bytes = event.protoBuffer();
    EXPECT_EQ(bytes, bytesOf({0x12, 0x00}));
    auto decoded = APMPBEvent::initWithBuffer(*bytes);
    EXPECT_TRUE(APMPBHasField(decoded.get(), 1));
    EXPECT_EQ(APMPBGetString(decoded.get(), 1), "");
    EXPECT_EQ(decoded->protoBuffer(), bytes);
}

TEST(MessageCodec, EmptyMessageEncodesToZeroBytesInARealBuffer) {
    APMPBEvent event;
    std::uint8_t* out = nullptr;
    EXPECT_EQ(codec::encode(event.messageType(), event.messageInfo(), &out), 0u);
    EXPECT_NE(out, nullptr);
    std::free(out);
    EXPECT_EQ(event.protoBuffer(), sdk::Bytes{});
}

TEST(MessageCodec, MissingRepeatedHolderFailsTheEncodeWithItsLine) {
    CapturedLog log;
    APMPBEvent event;
    std::free(event.messageInfo()->fields[0]);
    event.messageInfo()->fields[0] = nullptr;
    std::uint8_t* out = reinterpret_cast<std::uint8_t*>(&event);
    EXPECT_EQ(codec::encode(event.messageType(), event.messageInfo(), &out), apmpb::kEncodeFailed);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(event.protoBuffer(), std::nullopt);
    EXPECT_EQ(log.codec(),
              "<ERROR> Event Encoder: 'params' should have been allocated\n"
              "<ERROR> Event Encoder: 'params' should have been allocated\n");
}

TEST(MessageCodec, StringLimitIsOneMebibyte) {
    CapturedLog log;
    for (std::size_t length : {std::size_t{1048576}, std::size_t{1048577}}) {
        sdk::Bytes input = bytesOf({0x12});
        appendVarint(input, length);
        input.resize(input.size() + length, 'x');
        auto event = APMPBEvent::initWithBuffer(input);
        EXPECT_EQ(event != nullptr, length == 1048576);
        if (event) {
            EXPECT_EQ(APMPBGetString(event.get(), 1)->size(), length);
        }
    }
    EXPECT_EQ(log.codec(),
              "Unable to process proto stream. Buffer is too big. 1048577 > 1048576"
              "<ERROR> Event decoder failed: callback failed\n");
}

TEST(MessageCodec, NestingIsLimitedToAHundredMessagesAndProgramsToTheirOwnDepth) {
    CapturedLog log;
    const sdk::Bytes param = bytesOf({0x0A, 0x01, 'x'});
    ASSERT_NE(APMPBEventParam::initWithBuffer(nestedMessages(100, 0x32, param)), nullptr);
    EXPECT_EQ(log.codec(), "");
    EXPECT_EQ(APMPBEventParam::initWithBuffer(nestedMessages(101, 0x32, param)), nullptr);
    EXPECT_NE(log.codec().find("<ERROR> EventParam decoder failed: nesting too deep\n"),
              std::string::npos);
    log.clear();

    const std::size_t deepest = apmpb::kMaxProgramDecodeDepth;
    auto program = APMPBRuntimeEntity::initWithBuffer(nestedEntities(deepest));
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(log.codec(), "");
    EXPECT_EQ(program->protoBuffer(), nestedEntities(deepest));

    EXPECT_EQ(APMPBRuntimeEntity::initWithBuffer(nestedEntities(deepest + 1)), nullptr);
    EXPECT_NE(log.codec().find("<ERROR> RuntimeEntity decoder failed: nesting too deep\n"),
              std::string::npos);
    log.clear();
    EXPECT_EQ(APMPBRuntimeEntity::initWithBuffer(nestedEntities(100000)), nullptr);
    EXPECT_NE(log.codec().find("<ERROR> RuntimeEntity decoder failed: nesting too deep\n"),
              std::string::npos);
}

TEST(MessageCodec, BrokenElementReportsItselfThenItsParent) {
    CapturedLog log;
    // One params element whose string claims five bytes but has none.
    EXPECT_EQ(APMPBEvent::initWithBuffer(bytesOf({0x0A, 0x02, 0x12, 0x05})), nullptr);
    EXPECT_EQ(log.codec(),
              "<ERROR> EventParam decoder failed: parent stream too short\n"
              "<ERROR> EventParam decoder failed: Unable to decode repeated EventParam\n"
              "<ERROR> Event decoder failed: callback failed\n");
}

// A declared field that arrives in another wire type than its own is an unknown field: it is
// skipped and the rest of the message is kept, at the top, in singular children and in
// elements. Each case: the type, the input, and what it encodes to after decoding.
TEST(MessageCodec, FieldInAnotherWireTypeIsSkippedAsUnknown) {
    struct Case {
        const apmpb::MessageType* type;
        sdk::Bytes input;
        sdk::Bytes kept;
    };
    const Case cases[] = {
        // Event name (string) as fixed32 "abcd", then timestamp 7.
        {&apmpb::kEventType, bytesOf({0x15, 'a', 'b', 'c', 'd', 0x18, 0x07}),
         bytesOf({0x18, 0x07})},
        // Event params (message elements) as a varint, then name "x".
        {&apmpb::kEventType, bytesOf({0x08, 0x01, 0x12, 0x01, 'x'}), bytesOf({0x12, 0x01, 'x'})},
        // Event timestamp (int64) length-delimited and as fixed64.
        {&apmpb::kEventType, bytesOf({0x1A, 0x01, 0x05, 0x19, 1, 2, 3, 4, 5, 6, 7, 8, 0x28, 0x02}),
         bytesOf({0x28, 0x02})},
        // EventParam float as a varint, double as fixed32, inside an element of an Event.
        {&apmpb::kEventType, bytesOf({0x0A, 0x0A, 0x0A, 0x01, 'p', 0x20, 0x05, 0x2D, 1, 2, 3, 4}),
         bytesOf({0x0A, 0x03, 0x0A, 0x01, 'p'})},
        // ResultData status (repeated uint64) as fixed64; a packed run stays accepted.
        {&apmpb::kResultDataType, bytesOf({0x09, 1, 2, 3, 4, 5, 6, 7, 8, 0x12, 0x01, 0x03}),
         bytesOf({0x10, 0x03})},
        // A bundle's ad_campaign_info whose vclid comes as fixed32, then its vbraid "v".
        {&apmpb::kMeasurementBundleType,
         bytesOf({0xFA, 0x04, 0x08, 0x0D, 1, 2, 3, 4, 0x12, 0x01, 'v'}),
         bytesOf({0xFA, 0x04, 0x03, 0x12, 0x01, 'v'})},
        // The same singular child as a varint: no child.
        {&apmpb::kMeasurementBundleType, bytesOf({0xF8, 0x04, 0x01, 0x08, 0x01}),
         bytesOf({0x08, 0x01})},
        // A bool as fixed64, a string as a varint: an empty message.
        {&apmpb::kFlagType, bytesOf({0x29, 1, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x01}), bytesOf({})},
    };
    CapturedLog log;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type->name) + " " + ::testing::PrintToString(c.input));
        AnyMessage message(*c.type, c.input);
        ASSERT_TRUE(message.decoded());
        EXPECT_EQ(message.protoBuffer(), c.kept);
    }
    EXPECT_EQ(log.codec(), "");
}

TEST(MessageCodec, CopyKeepsCountsAndLeavesTheWriteCursorAtZero) {
    auto data = APMPBResultData::initWithBuffer(bytesOf({0x08, 0x01, 0x08, 0x02, 0x10, 0x03}));
    ASSERT_NE(data, nullptr);
    APMPBResultData copy(*data);
    const auto* holder = static_cast<apmpb::RepeatedHolder*>(copy.messageInfo()->fields[0]);
    EXPECT_EQ(holder->count, 2u);
    EXPECT_EQ(holder->filled, 0u);
    EXPECT_EQ(copy.protoBuffer(), data->protoBuffer());
}

// Under the address and undefined-behaviour sanitizers these show that no input reads or
// writes out of bounds, leaks or crashes: every prefix of a full bundle, every single-byte
// change of it, and random bytes decode or fail cleanly.
TEST(MessageCodec, HostileInputDecodesOrFailsCleanly) {
    CapturedLog log;
    const sdk::Bytes full = fullBundle();
    ASSERT_GT(full.size(), 1000u);
    std::size_t decoded = 0;
    for (std::size_t n = 0; n <= full.size(); ++n) {
        const sdk::Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        if (APMPBMeasurementBundle::initWithBuffer(prefix))
            ++decoded;
    }
    EXPECT_GT(decoded, 0u);
    EXPECT_NE(APMPBMeasurementBundle::initWithBuffer(full), nullptr);

    std::mt19937 random(33);
    for (std::size_t i = 0; i < full.size(); ++i) {
        sdk::Bytes changed = full;
        changed[i] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        if (auto bundle = APMPBMeasurementBundle::initWithBuffer(changed)) {
            EXPECT_TRUE(bundle->protoBuffer().has_value());
        }
    }
    for (int round = 0; round < 2000; ++round) {
        sdk::Bytes garbage(random() % 200);
        for (auto& b : garbage)
            b = static_cast<std::uint8_t>(random());
        for (const auto* type : apmpb::kAllMessageTypes) {
            AnyMessage message(*type, garbage);
            if (message.decoded()) {
                EXPECT_TRUE(message.protoBuffer().has_value());
            }
        }
    }
}

TEST(MessageCodec, SharedRoutinesRefuseNullTargetsWithTheirLines) {
    CapturedLog log;
    EXPECT_FALSE(apmpb::nano_array_init(nullptr));
    EXPECT_FALSE(apmpb::nano_string_free(nullptr));
    EXPECT_FALSE(apmpb::nano_set_bool(nullptr, true));
    EXPECT_FALSE(apmpb::nano_set_uint32(nullptr, 1));
    EXPECT_FALSE(apmpb::nano_set_uint64(nullptr, 1));
    EXPECT_FALSE(apmpb::nano_set_float(nullptr, 1));
    EXPECT_FALSE(apmpb::nano_set_double(nullptr, 1));
    EXPECT_FALSE(apmpb::nano_set_string(nullptr, "x", 1));
    EXPECT_EQ(log.codec(),
              "<ERROR> Unable to initialize the array. Array pointer is NULL\n"
              "<ERROR> Unable to dealloc string field. String struct is NULL\n"
              "<ERROR> Unable to set bool. Destination pointer is NULL\n"
              "<ERROR> Unable to set uint32. Destination pointer is NULL\n"
              "<ERROR> Unable to set uint64. Destination pointer is NULL\n"
              "<ERROR> Unable to set float. Destination pointer is NULL\n"
              "<ERROR> Unable to set double. Destination pointer is NULL\n"
              "<ERROR> Unable to set string. Destination array is NULL\n");
}

TEST(MessageCodec, DecodingIntoARecordWithoutItsRepeatedHolderFails) {
    CapturedLog log;
    const auto& type = apmpb::kEventType;
    for (const sdk::Bytes& input : {bytesOf({0x12, 0x01, 'n'}), bytesOf({0x0A, 0x00})}) {
        APMPBEvent event;
        std::free(event.messageInfo()->fields[0]);
        event.messageInfo()->fields[0] = nullptr;
        EXPECT_FALSE(codec::decode(type, input.data(), input.size(), event.messageInfo()));
        EXPECT_EQ(APMPBGetRepeated<APMPBEventParam>(&event, 0), std::nullopt);
    }
    EXPECT_FALSE(codec::decode(type, nullptr, 0, nullptr));
    EXPECT_EQ(log.codec(),
              "<ERROR> Cannot allocate Event arrays. Missing params field (params)\n"
              "<ERROR> Event decoder failed: Unable to allocate arrays\n"
              "<ERROR> EventParam decoder failed: Invalid arg parameter\n"
              "<ERROR> Event decoder failed: callback failed\n"
              "<ERROR> Event decoder failed: message_info is NULL\n");
    EXPECT_EQ(log.accessor(),
              "<ERROR> Repeated field should have been allocated\n"
              "<ERROR> Repeated field should have been allocated\n");
}
