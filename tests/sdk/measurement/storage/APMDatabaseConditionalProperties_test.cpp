// Conditional user properties: the stored row and its events, the timed-out, expired and
// triggered queries against the clock, literal prefix and origin queries, the table limit.
#include <algorithm>

#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/storage/RecordTestSupport.h"

namespace {

using sdktest::codeAndMessage;

constexpr double kNow = 1700000000.0;

APMConditionalUserProperty makeProperty(const std::string& name, const std::string& origin = "app",
                                        const APMValue& value = APMValue("v")) {
    APMConditionalUserProperty property;
    property.setName(name);
    property.setOrigin(origin);
    property.setValue(value);
    property.setCreationTimestamp(kNow);
    property.setTriggerTimeout(60);
    property.setTimeToLive(60);
    return property;
}

std::vector<std::string> names(const std::vector<APMConditionalUserProperty>& properties) {
    std::vector<std::string> result;
    for (const APMConditionalUserProperty& property : properties) {
        result.push_back(property.name());
    }
    std::sort(result.begin(), result.end());
    return result;
}

class APMDatabaseConditionalPropertiesTest : public sdktest::RecordTest {
  protected:
    void SetUp() override {
        RecordTest::SetUp();
        TEST_APMSetCurrentTimeInterval(kNow);
    }
    void put(const APMConditionalUserProperty& property) {
        sdk::Error error;
        ASSERT_TRUE(database_->updateConditionalUserProperty(&property, &error))
            << property.name() << " " << codeAndMessage(error);
    }
};

TEST_F(APMDatabaseConditionalPropertiesTest, TheRowHoldsEveryFieldAndTheEventsAsMessages) {
    APMConditionalUserProperty full = makeProperty("tier", "app", APMValue(std::int64_t{0}));
    full.setActive(true);
    full.setTriggeredTimestamp(kNow - 1);
    full.setTriggerEventName("_purchase");
    full.setTriggeredEvent(sdktest::makeEvent("on_trigger", kNow, {{"level", sdk::Value(3)}}));
    full.setTimedOutEvent(sdktest::makeEvent("on_timeout", kNow));
    full.setExpiredEvent(sdktest::makeEvent("on_expiry", kNow));
    put(full);
    put(makeProperty("plain", "app", APMValue(2.5)));
    EXPECT_EQ(cli("select name, typeof(value), value, active, trigger_timeout, time_to_live, "
                  "typeof(trigger_event_name), typeof(triggered_event) from conditional_properties "
                  "order by name"),
              "plain|real|2.5|0|60.0|60.0|null|null\ntier|integer|0|1|60.0|60.0|text|blob\n");

    const std::vector<std::pair<std::string, std::string>> blobs = {
        {"triggered_event", "on_trigger"},
        {"timed_out_event", "on_timeout"},
        {"expired_event", "on_expiry"}};
    for (const auto& [column, eventName] : blobs) {
        const auto bin = file(column + ".bin");
        cli("select writefile('" + bin.string() + "', " + column +
            ") from conditional_properties where name = 'tier'");
        const std::string text = sdktest::protocDecode(bin, "apmpb.Event");
        EXPECT_NE(text.find("name: \"" + eventName + "\""), std::string::npos) << text;
    }

    sdk::Error error;
    const auto read = database_->conditionalUserPropertyWithName("tier", &error);
    ASSERT_TRUE(read) << codeAndMessage(error);
    EXPECT_EQ(read->origin(), "app");
    EXPECT_EQ(read->value(), APMValue(std::int64_t{0}));
    EXPECT_TRUE(read->isActive());
    EXPECT_EQ(read->creationTimestamp(), kNow);
    EXPECT_EQ(read->triggeredTimestamp(), kNow - 1);
    EXPECT_EQ(read->triggerEventName(), "_purchase");
    ASSERT_TRUE(read->triggeredEvent());
    EXPECT_EQ(read->triggeredEvent()->protoEvent().protoBuffer(),
              full.triggeredEvent()->protoEvent().protoBuffer());
    EXPECT_EQ(read->expiredEvent()->name(), "on_expiry");

    cli("update conditional_properties set timed_out_event = X'FFFF', expired_event = 'text' "
        "where name = 'tier'");
    const auto corrupt = database_->conditionalUserPropertyWithName("tier", &error);
    ASSERT_TRUE(corrupt) << codeAndMessage(error);
    EXPECT_FALSE(corrupt->timedOutEvent());
    EXPECT_FALSE(corrupt->expiredEvent());
    EXPECT_TRUE(corrupt->triggeredEvent());

    const auto plain = database_->conditionalUserPropertyWithName("plain", &error);
    EXPECT_EQ(plain->triggerEventName(), std::nullopt);
    EXPECT_FALSE(plain->triggeredEvent());
    ASSERT_TRUE(database_->deleteConditionalUserPropertyWithName("plain", &error));
    EXPECT_EQ(database_->conditionalUserPropertyWithName("plain", &error), std::nullopt);
    EXPECT_TRUE(error.ok()) << codeAndMessage(error);
}

TEST_F(APMDatabaseConditionalPropertiesTest, TimedOutExpiredAndTriggeredFollowTheClock) {
    APMConditionalUserProperty waitedTooLong = makeProperty("late");
    waitedTooLong.setCreationTimestamp(kNow - 10);
    waitedTooLong.setTriggerTimeout(5);
    waitedTooLong.setTriggerEventName("_go");
    APMConditionalUserProperty waiting = makeProperty("waiting");
    waiting.setCreationTimestamp(kNow - 10);
    waiting.setTriggerTimeout(15);
    waiting.setTriggerEventName("_go");
    APMConditionalUserProperty outlived = makeProperty("outlived");
    outlived.setActive(true);
    outlived.setTriggeredTimestamp(kNow - 20);
    outlived.setTimeToLive(10);
    APMConditionalUserProperty living = makeProperty("living");
    living.setActive(true);
    living.setTriggeredTimestamp(kNow - 5);
    living.setTimeToLive(10);
    for (const auto* property : {&waitedTooLong, &waiting, &outlived, &living}) {
        put(*property);
    }
    sdk::Error error;
    EXPECT_EQ(names(database_->timedOutConditionalUserPropertiesWithError(&error).value()),
              std::vector<std::string>{"late"});
    EXPECT_EQ(names(database_->expiredConditionalUserPropertiesWithError(&error).value()),
              std::vector<std::string>{"outlived"});
    EXPECT_EQ(
        names(database_->triggeredConditionalUserPropertiesWithEventName("_go", &error).value()),
        std::vector<std::string>{"waiting"});
    EXPECT_TRUE(
        database_->triggeredConditionalUserPropertiesWithEventName("_other", &error)->empty());

    EXPECT_FALSE(database_->triggeredConditionalUserPropertiesWithEventName("", &error));
    EXPECT_EQ(codeAndMessage(error),
              "1 Received nil/empty event name for querying triggered conditional user "
              "properties");
    EXPECT_FALSE(database_->conditionalUserPropertiesWithCondition("", {}, &error));
    EXPECT_EQ(codeAndMessage(error),
              "1 Received empty condition for querying a conditional user property");
    cli("update conditional_properties set value = X'01' where name = 'living'");
    EXPECT_FALSE(database_->conditionalUserPropertiesWithCondition("1 == 1", {}, &error))
        << "one unreadable row fails the whole query";
}

TEST_F(APMDatabaseConditionalPropertiesTest, PrefixAndOriginMatchLiterally) {
    for (const auto& [name, origin] : std::vector<std::pair<std::string, std::string>>{
             {"_ltv_USD", "a_p"},
             {"_LTV_eur", "abp"},
             {"altvbx", "a_p"},
             {"x_ltv_", "a_p"},
             {"50%off", "app"},
             {"500", "app"},
         }) {
        put(makeProperty(name, origin));
    }
    using Names = std::vector<std::string>;
    struct Case {
        std::optional<std::string_view> prefix, origin;
        Names expected;
    };
    const std::vector<Case> cases = {
        {"_ltv_", std::nullopt, {"_LTV_eur", "_ltv_USD"}},
        {std::nullopt, "a_p", {"_ltv_USD", "altvbx", "x_ltv_"}},
        {"_ltv_", "a_p", {"_ltv_USD"}},
        {"50%", std::nullopt, {"50%off"}},
        {"", "APP", {"50%off", "500"}},
        {std::nullopt, std::nullopt, {"500", "50%off", "_LTV_eur", "_ltv_USD", "altvbx", "x_ltv_"}},
    };
    for (const Case& c : cases) {
        sdk::Error error;
        const auto found =
            database_->conditionalUserPropertiesWithPrefix(c.prefix, c.origin, &error);
        ASSERT_TRUE(found) << codeAndMessage(error);
        Names expected = c.expected;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names(*found), expected)
            << c.prefix.value_or("(none)") << " / " << c.origin.value_or("(none)");
    }
}

TEST_F(APMDatabaseConditionalPropertiesTest, RefusedPropertiesAndTheTableLimit) {
    APMConditionalUserProperty noName = makeProperty("");
    APMConditionalUserProperty noOrigin = makeProperty("p", "");
    APMConditionalUserProperty noValue = makeProperty("p");
    noValue.setValue(std::nullopt);
    const std::string tail = " for getting dictionary representation";
    const std::vector<std::pair<const APMConditionalUserProperty*, std::string>> cases = {
        {nullptr, "3 Received empty conditional user property" + tail},
        {&noName, "3 Received conditional user property with empty name" + tail},
        {&noOrigin, "3 Received conditional user property with empty origin" + tail},
        {&noValue, "3 Received conditional user property with nil value" + tail},
    };
    for (const auto& [property, expected] : cases) {
        sdk::Error error;
        EXPECT_FALSE(database_->updateConditionalUserProperty(property, &error));
        EXPECT_EQ(codeAndMessage(error), expected);
    }
    EXPECT_EQ(cli("select count(*) from conditional_properties"), "0\n");

    cli("with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000) "
        "insert into conditional_properties (name, origin, value, creation_timestamp, active, "
        "trigger_timeout, triggered_timestamp, time_to_live) "
        "select 'c' || i, 'app', i, 0, 0, 1, 0, 1 from n");
    sdk::Error error;
    const APMConditionalUserProperty extra = makeProperty("c1001");
    EXPECT_FALSE(database_->updateConditionalUserProperty(&extra, &error));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to insert data type. Table is full");
    put(makeProperty("c5", "app", APMValue("again")));
    EXPECT_EQ(cli("select count(*), sum(name = 'c5' and value = 'again') from "
                  "conditional_properties"),
              "1000|1\n");
}

}  // namespace
