// The editing front end over several events, its collection, the event value type and the
// conversions between engine events and edit events. Single-event behaviour is pinned by the
// table in editing/.
#include "sdk/measurement/script/APMPEventEditing.h"

#include <gtest/gtest.h>

#include "EditingTestSupport.h"
#include "ProgramText.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/core/APMEventEditEvent.h"
#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

std::unique_ptr<APMPEventEditing> loaded(
    std::string_view text, std::unique_ptr<APMPRuntime> runtime = std::make_unique<APMPRuntime>()) {
    auto editing = script_test::MakeEditingWithStandInModules(true, std::move(runtime));
    const auto program = program_text::Program(text);
    EXPECT_TRUE(program) << text;
    if (program) {
        const sdk::Error error = editing->loadProgram(*program);
        EXPECT_TRUE(error.ok()) << error.ToString();
    }
    return editing;
}

TEST(APMPEventEditingTest, TheEventAfterARunawayCallbackIsEditedNormally) {
    // Loops for ever on "hostile"; renames anything else.
    const auto editing = loaded(
        R"(52("reg", require("internal.registerCallback")) reg("x", 51("f", 7("e"),)"
        R"( 22(20(2(15("e"), "getEventName", 7()), "hostile"), 46(42(true, 44(), false, 46()))),)"
        R"( 2(15("e"), "setEventName", 7("renamed")), 36(1)), 8("type", "edit")))");
    sdk::Error error;
    EXPECT_FALSE(editing->handleEvent(APMPEvent("hostile", 1.0, {}), error));
    EXPECT_TRUE(APMPIsError(error, APMPErrorCode::kLimitExceeded)) << error.ToString();
    EXPECT_EQ(editing->eventContext().outputEvent().name(), "hostile");

    sdk::Error next;
    EXPECT_TRUE(editing->handleEvent(APMPEvent("ok", 2.0, {{"k", 1}}), next));
    EXPECT_TRUE(next.ok()) << next.ToString();
    EXPECT_EQ(editing->eventContext().outputEvent().name(), "renamed");
    EXPECT_EQ(editing->eventContext().outputEvent().parameters(),
              (sdk::Value::Dictionary{{"k", 1}}));
}

TEST(APMPEventEditingTest, ALoadTimeClosureSurvivesCollectionAndGarbageStaysBounded) {
    // The callback counts events in a closure made at load time and hands each event a fresh
    // map and array (garbage the collector must free).
    auto runtime = std::make_unique<APMPRuntime>();
    const std::shared_ptr<APMPObjectManager> manager = runtime->objectManager();
    const auto editing = loaded(
        R"(52("reg", require("internal.registerCallback")))"
        R"( 50("mk", 7(), 41("c"), 3("c", 0), 36(51("inc", 7(), 3("c", 0(15("c"), 1))))))"
        R"( 52("inc", mk()))"
        R"( reg("x", 51("f", 7("e"), 52("junk", 8("a", 7(1, 2, 3))), 43(15("junk"), "self", 15("junk")),)"
        R"( 2(15("e"), "setParamValue", 7("n", inc())), 36(1)), 8("type", "edit")))",
        std::move(runtime));
    std::size_t trackedAfterWarmUp = 0;
    std::size_t bytesAfterWarmUp = 0;
    for (int i = 1; i <= 10000; ++i) {
        sdk::Error error;
        ASSERT_TRUE(editing->handleEvent(APMPEvent("e", 1.0, {}), error)) << error.ToString();
        if (i <= 1000) {
            ASSERT_EQ(editing->eventContext().outputEvent().parameters(),
                      (sdk::Value::Dictionary{{"n", static_cast<double>(i)}}));
        }
        if (i == 100) {
            trackedAfterWarmUp = manager->trackedObjects().size();
            bytesAfterWarmUp = manager->budget()->bytesInUse();
        }
    }
    EXPECT_EQ(editing->eventContext().outputEvent().parameters(),
              (sdk::Value::Dictionary{{"n", 10000.0}}));
    EXPECT_LE(manager->trackedObjects().size(), trackedAfterWarmUp);
    EXPECT_LE(manager->budget()->bytesInUse(), bytesAfterWarmUp);
}

TEST(APMPEventEditingTest, RequireAsksTheCreatorOnceAndTheLoggerGetsThreeContexts) {
    auto editing = script_test::MakeEditingWithStandInModules();
    int made = 0;
    editing->setModuleCreator(
        [&made] {
            ++made;
            return APMPNumberValue::make(7);
        },
        "counted");
    const auto program = program_text::Program(
        R"(require("counted") require("counted") require("unknown") require("unknown"))"
        R"( 2(require("internal.logger"), "log", 7(6, "m", "a", "b", "c", "dropped")))");
    sdktest::MonitorRecorder monitor;
    ASSERT_TRUE(editing->loadProgram(*program).ok());
    EXPECT_EQ(made, 1);
    const auto messages = monitor.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].code, 24005);
    EXPECT_EQ(messages[0].level, 1);
    EXPECT_EQ(messages[0].message, "m");
    ASSERT_EQ(messages[0].contexts.size(), 3u);
    EXPECT_EQ(messages[0].contexts[2].description(), "c");
}

TEST(APMPEventTest, EqualityCoversParametersOfBothEventsAndTheirKinds) {
    const APMPEvent base("e", 10.0, {{"a", 5}, {"b", "x"}});
    const struct {
        const char* what;
        APMPEvent other;
        bool equal;
    } cases[] = {
        {"same", APMPEvent("e", 10.0, {{"a", 5}, {"b", "x"}}), true},
        {"timestamp within epsilon", APMPEvent("e", 10.0 + 1e-17, {{"a", 5}, {"b", "x"}}), true},
        {"timestamp", APMPEvent("e", 10.5, {{"a", 5}, {"b", "x"}}), false},
        {"name", APMPEvent("f", 10.0, {{"a", 5}, {"b", "x"}}), false},
        {"integer against double", APMPEvent("e", 10.0, {{"a", 5.0}, {"b", "x"}}), false},
        {"removed parameter", APMPEvent("e", 10.0, {{"a", 5}}), false},
        {"added parameter", APMPEvent("e", 10.0, {{"a", 5}, {"b", "x"}, {"c", 1}}), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.other.isEqualToEvent(base), c.equal) << c.what;
        EXPECT_EQ(base.isEqualToEvent(c.other), c.equal) << c.what;
    }
}

class EditEventConversionTest : public testing::Test {
  protected:
    const APMParameterLimits limits_{100, 27, 500};
};

TEST_F(EditEventConversionTest, EditEventHasThePublicNameAndPlainParameters) {
    const sdk::Value::Dictionary item{{"item_name", "cap"}, {"price", 2.5}, {"quantity", 3}};
    const sdk::Value::Array items{sdk::Value(item)};
    const auto event = APMEvent::initWithOrigin("app", false, "_s", 1700000000.25, 0.0,
                                                {{"count", sdk::Value(2)},
                                                 {"ratio", sdk::Value(0.5)},
                                                 {"label", sdk::Value("x")},
                                                 {"items", APMValue(items)}},
                                                limits_);
    ASSERT_TRUE(event);
    const APMPEvent edit = APMEventEditEvent(*event);
    EXPECT_EQ(edit.name(), "session_start");
    // Scripts see milliseconds.
    EXPECT_EQ(edit.timestamp(), 1700000000250.0);
    EXPECT_EQ(edit.parameters(),
              (sdk::Value::Dictionary{
                  {"_o", "app"}, {"count", 2}, {"items", items}, {"label", "x"}, {"ratio", 0.5}}));
}

TEST_F(EditEventConversionTest, EventFromEditEventTakesTheOriginFromAStringO) {
    const struct {
        sdk::Value origin;
        const char* expected;
    } cases[] = {{sdk::Value("auto"), "auto"}, {sdk::Value(7.0), "app"}, {sdk::Value(), "app"}};
    for (const auto& c : cases) {
        sdk::Value::Dictionary parameters{{"k", 3}};
        if (!c.origin.isNull()) {
            parameters.emplace("_o", c.origin);
        }
        const auto event =
            APMEventFromEditEvent(APMPEvent("session_start", 12000.0, parameters), limits_);
        ASSERT_TRUE(event) << c.expected;
        EXPECT_EQ(event->origin(), c.expected);
        EXPECT_EQ(event->name(), "_s");
        EXPECT_EQ(event->timestamp(), 12.0);
        EXPECT_EQ(event->previousTimestamp(), 0.0);
        EXPECT_EQ(event->parameters().at("k"), APMValue(std::int64_t{3}));
        EXPECT_EQ(event->parameters().at("_o"), APMValue(c.expected));
    }
    EXPECT_FALSE(APMEventFromEditEvent(APMPEvent("", 12.0, {}), limits_));
}

TEST_F(EditEventConversionTest, TimesCrossAsMillisecondsAndAnEditedEventKeepsItsOwnTime) {
    // A created event's whole milliseconds come back as seconds with their fraction.
    const auto created = APMEventFromEditEvent(APMPEvent("made", 1700000000789.0, {}), limits_);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->timestamp(), 1700000000.789);
    // Seconds to milliseconds and back is not always the same double; the caller's own time
    // wins.
    const double seconds = 1702754332.6375275;
    const auto edited = APMEventFromEditEvent(
        APMPEvent("made", APMEvent::editTimestampFromSeconds(seconds), {}), limits_, seconds);
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->timestamp(), seconds);
}

}  // namespace
