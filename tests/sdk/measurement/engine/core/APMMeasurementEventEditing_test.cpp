// Step 9 of the pipeline: a configuration's program edits the engine's events and creates new
// ones; what is stored is read back with the sqlite3 shell and protoc.
#include <cmath>

#include "ProgramText.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace {

using sdktest::EngineTest;

// Renames "scan_started" and sets "mode" and "t" (the time it reads); a create callback logs
// "scan_noted" three times: with a string origin, without one, and with a number (coerced to text
// against the input event's string "_o", like any parameter the input event has).
constexpr std::string_view kEditingProgram =
    R"(52("reg", require("internal.registerCallback")) 52("log", require("internal.eventLogger")))"
    R"( reg("x", 51("f", 7("e"), 22(20(2(15("e"), "getEventName", 7()), "scan_started"),)"
    R"( 46(2(15("e"), "setEventName", 7("scan_begun")))),)"
    R"( 2(15("e"), "setParamValue", 7("mode", "fast")),)"
    R"( 2(15("e"), "setParamValue", 7("t", 2(15("e"), "getTimestamp", 7()))), 36(1)),)"
    R"( 8("type", "edit")))"
    R"( reg("y", 51("g", 7("e"), 41("t"), 3("t", 2(15("e"), "getTimestamp", 7())),)"
    R"( log("scan_noted", 15("t"), 8("_o", "auto", "k", 1)),)"
    R"( log("scan_noted", 15("t"), 8("n", 2)), log("scan_noted", 15("t"), 8("_o", 7))),)"
    R"( 8("type", "create")))";

// Every edit callback fails (an undeclared variable).
constexpr std::string_view kFailingProgram =
    R"(52("reg", require("internal.registerCallback")))"
    R"( reg("x", 51("f", 7("e"), 2(15("e"), "setEventName", 7("never")), 3("undeclared", 1)),)"
    R"( 8("type", "edit")))";

// A top-level return: cannot load.
constexpr std::string_view kUnloadableProgram = "36(1)";

class EventEditingTest : public EngineTest {
  protected:
    void SetUp() override { ASSERT_TRUE(startEngine(kAppID)); }

    // Stores and applies a configuration carrying `programs`, as a fetch would.
    void storePrograms(const std::vector<std::string_view>& programs) {
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine_, [&] {
            APMPBMeasurementConfig config;
            APMPBSetString(&config, apmpb::MeasurementConfig::kAppId, kAppID);
            APMPBRepeatedArray elements;
            for (const std::string_view text : programs) {
                std::shared_ptr<APMPBProgram> program = program_text::Program(text);
                ASSERT_TRUE(program) << text;
                elements.emplace_back(program);
            }
            APMPBSetRepeated(&config, apmpb::MeasurementConfig::kDynamicEventEditing, elements);
            ASSERT_TRUE(engine_->remoteConfigInstance()->updateMeasurementConfig(&config));
        });
    }

    // protoc's text of the stored raw event at `index` (in row order).
    std::string storedEvent(int index) {
        const std::string hex =
            sqlite("SELECT hex(data) FROM raw_events ORDER BY rowid LIMIT 1 OFFSET " +
                   std::to_string(index) + ";");
        return protocDecode(fromHex(hex), "apmpb.Event");
    }

    static bool contains(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
};

TEST_F(EventEditingTest, EventsAreStoredEditedAndCreatedEventsFollow) {
    // The second program is never loaded: it would fail.
    storePrograms({kEditingProgram, kUnloadableProgram});
    EXPECT_EQ(countOf(29027), 1);
    EXPECT_EQ(countOf(29026), 0);

    logEvent("scan_started", {{"files", sdk::Value(12)}});
    ASSERT_EQ(rawEventNames(),
              (std::vector<std::string>{"scan_begun", "scan_noted", "scan_noted", "scan_noted"}));
    const std::string edited = storedEvent(0);
    EXPECT_TRUE(contains(edited, "name: \"mode\"\n  string_value: \"fast\"")) << edited;
    EXPECT_TRUE(contains(edited, "name: \"files\"\n  int_value: 12")) << edited;

    const std::vector<APMRawEventData> events = rawEvents();
    EXPECT_EQ(events[1].rawEvent().origin(), "auto");
    EXPECT_EQ(events[1].rawEvent().parameters().at("k"), APMValue(1.0));
    // The script read the time in milliseconds, and the events it created keep that time to
    // the millisecond (the logger truncates to whole milliseconds), not just to the second.
    const double seconds = events[0].rawEvent().timestamp();
    EXPECT_EQ(events[0].rawEvent().parameters().at("t").doubleValue(), seconds * 1000.0);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(events[i].rawEvent().timestamp(), std::trunc(seconds * 1000.0) / 1000.0) << i;
    }
    EXPECT_EQ(events[2].rawEvent().origin(), "app");
    EXPECT_EQ(events[3].rawEvent().origin(), "7");
    EXPECT_TRUE(contains(storedEvent(2), "name: \"_o\"\n  string_value: \"app\""))
        << storedEvent(2);
}

TEST_F(EventEditingTest, AFailingCallbackStoresTheUneditedEvent) {
    storePrograms({kFailingProgram});
    logEvent("scan_started", {{"files", sdk::Value(12)}});
    EXPECT_EQ(rawEventNames(), std::vector<std::string>{"scan_started"});
    EXPECT_EQ(countOf(23223), 1);
    const std::string stored = storedEvent(0);
    EXPECT_TRUE(contains(stored, "name: \"files\"\n  int_value: 12")) << stored;
}

TEST_F(EventEditingTest, AProgramThatCannotLoadLeavesEventsUnchanged) {
    storePrograms({kUnloadableProgram});
    EXPECT_EQ(countOf(29026), 1);
    EXPECT_EQ(countOf(29027), 0);
    logEvent("scan_started");
    EXPECT_EQ(rawEventNames(), std::vector<std::string>{"scan_started"});
    EXPECT_EQ(countOf(23223), 0);
}

}  // namespace
