// The wrapper classes: making, copying, decoding and encoding whole messages.
#include <gtest/gtest.h>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;

TEST(APMPBMessage, NullMakesAnEmptyMessageAnotherTypeMakesNothing) {
    auto event = APMPBEvent::initWithMessageInfo(nullptr);
    ASSERT_NE(event, nullptr);
    for (std::int32_t id = 1; id < 5; ++id)
        EXPECT_FALSE(APMPBHasField(event.get(), id));
    EXPECT_EQ(APMPBGetRepeated<APMPBEventParam>(event.get(), 0), APMPBRepeatedArray{});
    EXPECT_EQ(event->protoBuffer(), sdk::Bytes{});

    EXPECT_EQ(APMPBUserAttribute::initWithMessageInfo(event->messageInfo()), nullptr);
    EXPECT_NE(APMPBEvent::initWithMessageInfo(event->messageInfo()), nullptr);
}

TEST(APMPBMessage, CopiesAreIndependent) {
    APMPBEvent original;
    APMPBSetString(&original, 1, "first");
    auto param = std::make_shared<APMPBEventParam>();
    APMPBSetInt64(param.get(), 2, 7);
    APMPBSetRepeated(&original, 0, APMPBRepeatedArray{param});

    auto viaInfo = APMPBEvent::initWithMessageInfo(original.messageInfo());
    APMPBEvent viaCopy(original);
    APMPBEvent viaAssign;
    viaAssign = original;
    APMPBSetString(&original, 1, "changed");
    APMPBSetRepeated(&original, 0, std::nullopt);
    APMPBSetInt64(param.get(), 2, 8);
    for (const APMPBEvent* copy : {viaInfo.get(), &viaCopy, &viaAssign}) {
        EXPECT_EQ(APMPBGetString(copy, 1), "first");
        auto params = APMPBGetRepeated<APMPBEventParam>(copy, 0);
        ASSERT_EQ(params->size(), 1u);
        EXPECT_EQ(APMPBGetInt64(std::get<1>((*params)[0]).get(), 2), 7);
    }
}

TEST(APMPBMessage, NamesAndHooks) {
    CapturedLog log;
    APMPBMeasurementBatch batch;
    EXPECT_STREQ(batch.messageID(), "MeasurementBatch");
    EXPECT_STREQ(batch.className(), "APMPBMeasurementBatch");
    EXPECT_STREQ(batch.messageInfo()->name, "MeasurementBatch");
    EXPECT_EQ(batch.messageInfo()->type_flags, apmpb::kMeasurementBatchType.typeFlags);

    // The hooks are the type's own operations.
    apmpb::MessageInfo* copy = nullptr;
    ASSERT_TRUE(batch.copyMessageInfoFn()(&copy, batch.messageInfo()));
    EXPECT_STREQ(copy->name, "MeasurementBatch");
    EXPECT_FALSE(batch.deallocMessageFieldFn()(copy, 4));
    EXPECT_TRUE(apmpb::MessageCodec::free(batch.messageType(), copy));
    EXPECT_EQ(log.codec(), "<ERROR> MeasurementBatch: Cannot deallocate field 4: Unknown field\n");
}

TEST(APMPBMessage, BytesThatDoNotDecodeMakeNothing) {
    CapturedLog log;
    EXPECT_EQ(APMPBEvent::initWithBuffer(asBytes("\x12\x05x")), nullptr);
    EXPECT_EQ(log.codec(), "<ERROR> Event decoder failed: parent stream too short\n");
    auto bundle = APMPBMeasurementBundle::initWithBuffer(sdk::Bytes{});
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->protoBuffer(), sdk::Bytes{});
}

TEST(APMPBMessage, CopyingARecordOntoItselfKeepsIt) {
    APMPBEvent event;
    APMPBSetString(&event, 1, "kept");
    apmpb::MessageInfo* info = event.messageInfo();
    EXPECT_TRUE(event.copyMessageInfoFn()(&info, info));
    EXPECT_EQ(APMPBGetString(&event, 1), "kept");
    const APMPBEvent& same = event;
    event = same;
    EXPECT_EQ(APMPBGetString(&event, 1), "kept");
}
