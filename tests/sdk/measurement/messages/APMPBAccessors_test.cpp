// The field accessors' edge cases, each with the exact texts it logs.
#include <gtest/gtest.h>

#include <functional>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using namespace messages_test;

namespace {

// Event slots: 0 params (repeated EventParam), 1 name (string), 2 timestamp_millis (int64),
// 3 previous_timestamp_millis (int64), 4 field_5 (int32).
struct Case {
    const char* name;
    // Acts on a fresh event and checks its own results.
    std::function<void(APMPBEvent&)> run;
    const char* accessorText;  // what the accessors log
    const char* codecText;     // what the codec prints
};

using Array = APMPBRepeatedArray;

std::shared_ptr<NANOMessageBase> param(const char* name) {
    auto p = std::make_shared<APMPBEventParam>();
    APMPBSetString(p.get(), 0, name);
    return p;
}

const Case kCases[] = {
    {"repeated slot without elements has its field; a cleared string has not",
     [](APMPBEvent& e) {
         EXPECT_TRUE(APMPBHasField(&e, 0));
         APMPBSetString(&e, 1, "n");
         APMPBSetString(&e, 1, std::nullopt);
         EXPECT_FALSE(APMPBHasField(&e, 1));
     },
     "", ""},
    {"setting nil on an int64 slot logs the string text and keeps the value",
     [](APMPBEvent& e) {
         APMPBSetInt64(&e, 2, 42);
         APMPBSetString(&e, 2, std::nullopt);
         EXPECT_EQ(APMPBGetInt64(&e, 2), 42);
     },
     "<Nano/Failure> Field type isn't a scalar STRING. Message: Event, field ID: 2\n", ""},
    {"int32 reads back signed; bool on an int32 slot is refused",
     [](APMPBEvent& e) {
         APMPBSetInt32(&e, 4, static_cast<std::uint32_t>(-7));
         EXPECT_EQ(static_cast<std::int32_t>(APMPBGetInt32(&e, 4)), -7);
         EXPECT_FALSE(APMPBGetBool(&e, 4));
     },
     "<Nano/Failure> Field type isn't a scalar BOOL. Message: Event, field ID: 4\n", ""},
    {"never filled repeated field reads empty; a singular one is not repeated",
     [](APMPBEvent& e) {
         EXPECT_EQ(APMPBGetRepeated<APMPBEventParam>(&e, 0), Array{});
         EXPECT_EQ(APMPBGetRepeated(&e, 1), std::nullopt);
     },
     "<Nano/Failure> Field type isn't REPEATED. Message: Event, field ID: 1\n", ""},
    {"a string among int64 elements leaves the field empty",
     [](APMPBEvent&) {
         APMPBSequenceFilterResultTimestamp t;
         APMPBSetRepeated(&t, 1, Array{sdk::Value(1), sdk::Value(2)});
         APMPBSetRepeated(&t, 1, Array{sdk::Value(3), sdk::Value(4), sdk::Value("5")});
         EXPECT_EQ(APMPBGetRepeated(&t, 1), Array{});
         EXPECT_EQ(t.protoBuffer(), sdk::Bytes{});
     },
     "<ERROR> Invalid object type. Int64 fields expect NSNumber. Type: NSString\n", ""},
    {"mixed message arrays name the offending element",
     [](APMPBEvent& e) {
         APMPBSetRepeated(&e, 0, Array{param("a"), sdk::Value("b")});
         APMPBSetRepeated(&e, 0, Array{param("a"), std::make_shared<APMPBUserAttribute>()});
         APMPBStringFilter f;
         APMPBSetRepeated(&f, 3, Array{sdk::Value("x"), std::make_shared<APMPBEvent>()});
         APMPBSetRepeated(&f, 3, Array{sdk::Value(sdk::Bytes{1})});
         EXPECT_EQ(APMPBGetRepeated<APMPBEventParam>(&e, 0), Array{});
         EXPECT_EQ(APMPBGetRepeated(&f, 3), Array{});
     },
     "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: NSString\n"
     "<ERROR> Invalid object type. Message fields expect APMPBEventParam. Type: "
     "APMPBUserAttribute\n"
     "<ERROR> Invalid object type. String fields expect NSString. Type: APMPBEvent\n"
     "<ERROR> Invalid object type. String fields expect NSString. Type: NSData\n",
     ""},
    {"message elements come back as independent copies",
     [](APMPBEvent& e) {
         APMPBSetRepeated(&e, 0, Array{param("a"), param("b")});
         auto params = APMPBGetRepeated<APMPBEventParam>(&e, 0);
         ASSERT_EQ(params->size(), 2u);
         auto& second = std::get<1>((*params)[1]);
         EXPECT_EQ(APMPBGetString(second.get(), 0), "b");
         APMPBSetString(second.get(), 0, "changed");
         auto again = APMPBGetRepeated<APMPBEventParam>(&e, 0);
         EXPECT_EQ(APMPBGetString(std::get<1>((*again)[1]).get(), 0), "b");
         // Without an element class the elements cannot be made.
         EXPECT_EQ(APMPBGetRepeated(&e, 0), Array{});
     },
     "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: (null)\n"
     "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: (null)\n",
     ""},
    {"a child changes only when stored back; null clears; another type is refused",
     [](APMPBEvent&) {
         APMPBAudienceLeafFilterResult r;
         APMPBResultData data;
         APMPBSetRepeated(&data, 0, Array{sdk::Value(-1)});
         APMPBSetMessage(&r, 1, &data);
         auto child = APMPBGetMessage<APMPBResultData>(&r, 1);
         APMPBSetRepeated(child.get(), 0, Array{sdk::Value(5)});
         EXPECT_EQ(APMPBGetRepeated(APMPBGetMessage<APMPBResultData>(&r, 1).get(), 0),
                   Array{sdk::Value(-1)});  // a uint64 keeps all 64 bits
         APMPBSetMessage(&r, 1, child.get());
         EXPECT_EQ(APMPBGetRepeated(APMPBGetMessage<APMPBResultData>(&r, 1).get(), 0),
                   Array{sdk::Value(5)});
         EXPECT_EQ(APMPBGetMessage<APMPBEvent>(&r, 1), nullptr);
         APMPBEvent wrong;
         APMPBSetMessage(&r, 2, &wrong);
         EXPECT_FALSE(APMPBHasField(&r, 2));
         APMPBSetMessage(&r, 1, nullptr);
         EXPECT_FALSE(APMPBHasField(&r, 1));
     },
     "<ERROR> Invalid object type. Message fields expect APMPBResultData. Type: APMPBEvent\n", ""},
    {"bytes that are not UTF-8 read as nil while the field is present",
     [](APMPBEvent& e) {
         APMPBSetBytes(&e, 1, sdk::Bytes{0xC3, 0x28});
         EXPECT_TRUE(APMPBHasField(&e, 1));
         EXPECT_EQ(APMPBGetString(&e, 1), std::nullopt);
         EXPECT_EQ(APMPBGetBytes(&e, 1), (sdk::Bytes{0xC3, 0x28}));
         APMPBSetBytes(&e, 1, std::nullopt);
         EXPECT_FALSE(APMPBHasField(&e, 1));
         APMPBSetString(&e, 1, "\xF0\x9F\x98\x80 ok");
         EXPECT_EQ(APMPBGetString(&e, 1), "\xF0\x9F\x98\x80 ok");
         EXPECT_EQ(APMPBGetBytes(&e, 2), std::nullopt);
     },
     "<Nano/Failure> Field type isn't a scalar BYTES. Message: Event, field ID: 2\n", ""},
    {"field IDs outside the message are refused",
     [](APMPBEvent& e) {
         EXPECT_FALSE(APMPBHasField(&e, -1));
         APMPBSetInt64(&e, 5, 1);
         APMPBClearField(&e, -1);
         APMPBClearField(&e, 5);
         EXPECT_EQ(APMPBGetString(&e, 1000), std::nullopt);
     },
     "<Nano/Failure> Field ID out of range. Message: Event, field ID: -1\n"
     "<Nano/Failure> Field ID out of range. Message: Event, field ID: 5\n"
     "<Nano/Failure> Field ID out of range. Message: Event, field ID: -1\n"
     "<Nano/Failure> Field ID out of range. Message: Event, field ID: 1000\n",
     "<ERROR> Event: Cannot deallocate field 5: Unknown field\n"},
    {"clearing releases values and empties repeated fields",
     [](APMPBEvent& e) {
         APMPBSetRepeated(&e, 0, Array{param("a")});
         APMPBSetInt64(&e, 2, 9);
         APMPBClearField(&e, 0);
         APMPBClearField(&e, 2);
         EXPECT_EQ(APMPBGetRepeated<APMPBEventParam>(&e, 0), Array{});
         EXPECT_FALSE(APMPBHasField(&e, 2));
         EXPECT_EQ(e.protoBuffer(), sdk::Bytes{});
     },
     "", ""},
    {"scalars of every kind read back",
     [](APMPBEvent&) {
         APMPBEventParam p;
         APMPBSetFloat(&p, 3, 1.25f);
         APMPBSetDouble(&p, 4, -2.5);
         APMPBSetInt64(&p, 2, INT64_MIN);
         EXPECT_EQ(APMPBGetFloat(&p, 3), 1.25f);
         EXPECT_EQ(APMPBGetDouble(&p, 4), -2.5);
         EXPECT_EQ(APMPBGetInt64(&p, 2), INT64_MIN);
         EXPECT_EQ(APMPBGetDouble(&p, 3), 0.0);
         APMPBAudienceLeafFilterResult r;
         APMPBSetBool(&r, 3, true);
         EXPECT_TRUE(APMPBGetBool(&r, 3));
         APMPBSetBool(&r, 3, false);
         EXPECT_FALSE(APMPBGetBool(&r, 3));
         EXPECT_TRUE(APMPBHasField(&r, 3));
     },
     "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: EventParam, field ID: 3\n", ""},
};

}  // namespace

TEST(APMPBAccessors, EdgeCasesLogTheirExactTexts) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        CapturedLog log;
        APMPBEvent event;
        c.run(event);
        EXPECT_EQ(log.accessor(), c.accessorText);
        EXPECT_EQ(log.codec(), c.codecText);
    }
}

TEST(APMPBAccessors, AnUninitialisedMessageIsRefusedByEveryAccessor) {
    CapturedLog log;
    const NANOMessageBase* none = nullptr;
    NANOMessageBase* mutableNone = nullptr;
    EXPECT_FALSE(APMPBHasField(none, 0));
    APMPBClearField(mutableNone, 0);
    EXPECT_FALSE(APMPBGetBool(none, 0));
    APMPBSetBool(mutableNone, 0, true);
    EXPECT_EQ(APMPBGetInt32(none, 0), 0u);
    APMPBSetInt32(mutableNone, 0, 1);
    EXPECT_EQ(APMPBGetInt64(none, 0), 0);
    APMPBSetInt64(mutableNone, 0, 1);
    EXPECT_EQ(APMPBGetFloat(none, 0), 0.0f);
    APMPBSetFloat(mutableNone, 0, 1);
    EXPECT_EQ(APMPBGetDouble(none, 0), 0.0);
    APMPBSetDouble(mutableNone, 0, 1);
    EXPECT_EQ(APMPBGetString(none, 0), std::nullopt);
    APMPBSetString(mutableNone, 0, "x");
    EXPECT_EQ(APMPBGetBytes(none, 0), std::nullopt);
    APMPBSetBytes(mutableNone, 0, sdk::Bytes{});
    EXPECT_EQ(APMPBGetMessage<APMPBEvent>(none, 0), nullptr);
    APMPBSetMessage(mutableNone, 0, nullptr);
    EXPECT_EQ(APMPBGetRepeated(none, 0), std::nullopt);
    APMPBSetRepeated(mutableNone, 0, std::nullopt);
    const std::string prefix = "ProtocolBuffer message hasn't been initialized. ";
    std::string expected = prefix + "HasField operation can't be performed. Message name (null)\n" +
                           prefix + "ClearField can't be performed\n";
    for (const char* op :
         {"GetBool", "SetBool", "GetInt32", "SetInt32", "GetInt64", "SetInt64", "GetFloat",
          "SetFloat", "GetDouble", "SetDouble", "GetString", "SetString", "GetBytes", "SetBytes",
          "GetMessage", "SetMessage", "GetArray", "SetArray"}) {
        expected += prefix + op + " can't be performed\n";
    }
    EXPECT_EQ(log.accessor(), expected);
    EXPECT_EQ(log.codec(), "");
}

TEST(APMPBAccessors, VisitingRepeatedMessagesLendsTheStoredElementsInOrder) {
    CapturedLog log;
    APMPBEvent event;
    APMPBSetRepeated(&event, 0, Array{param("a"), param("b"), param("c")});
    const auto* holder = static_cast<const apmpb::RepeatedHolder*>(event.messageInfo()->fields[0]);
    std::vector<std::string> names;
    EXPECT_TRUE(APMPBVisitRepeatedMessages(&event, 0, [&](const NANOMessageBase& element) {
        // The element is the stored record itself, not a copy.
        EXPECT_EQ(element.messageInfo(), holder->items[names.size()]);
        EXPECT_STREQ(element.className(), "APMPBEventParam");
        names.push_back(APMPBGetString(&element, 0).value_or("?"));
        return true;
    }));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));

    // Stopping early answers false; the event keeps its elements.
    int visited = 0;
    EXPECT_FALSE(APMPBVisitRepeatedMessages(&event, 0,
                                            [&](const NANOMessageBase&) { return ++visited < 2; }));
    EXPECT_EQ(visited, 2);
    EXPECT_EQ(APMPBGetRepeated<APMPBEventParam>(&event, 0)->size(), 3u);

    // A slot that is not a repeated message slot is refused.
    EXPECT_FALSE(
        APMPBVisitRepeatedMessages(&event, 1, [](const NANOMessageBase&) { return true; }));
    EXPECT_EQ(log.accessor(),
              "<Nano/Failure> Field type isn't REPEATED message. Message: Event, field ID: 1\n");
}
