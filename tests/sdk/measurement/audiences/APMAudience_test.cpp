// Audience evaluation over a real measurement database: storing definitions, result bits and
// times, bundling with previous results, clearing session-scoped results, database failures.
#include "sdk/measurement/audiences/APMAudience.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/sdk/measurement/audiences/AudienceTestSupport.h"
#include "tests/sdk/measurement/storage/RecordTestSupport.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

namespace EF = apmpb::EventFilter;
namespace PF = apmpb::PropertyFilter;

struct Flags {
    bool sessionScoped = false;
    bool dynamic = false;
    bool sequence = false;
};

constexpr double kTime = 1700000000.75;

APMPBStringFilter exact(const std::string& expression) {
    return audiencetest::stringFilter(5, expression, true);
}

// An event filter on `eventName`, matching when `parameter` (if given) equals `value`.
APMPBEventFilter eventFilter(std::int32_t filterID, const std::string& eventName, Flags flags = {},
                             const std::string& parameter = {}, const std::string& value = {}) {
    std::vector<APMPBFilter> parameters;
    if (!parameter.empty()) {
        parameters.push_back(audiencetest::stringFilterOf(exact(value), parameter));
    }
    APMPBEventFilter filter =
        audiencetest::eventFilter(filterID, eventName, parameters, nullptr, flags.sessionScoped);
    APMPBSetBool(&filter, EF::kDynamic, flags.dynamic);
    APMPBSetBool(&filter, EF::kSequence, flags.sequence);
    return filter;
}

// A property filter on `name` that is true for the value `value`.
APMPBPropertyFilter propertyFilter(std::int32_t filterID, const std::string& name,
                                   const std::string& value, Flags flags = {}) {
    const APMPBFilter filter = audiencetest::stringFilterOf(exact(value));
    APMPBPropertyFilter property = audiencetest::propertyFilter(filterID, name, &filter);
    APMPBSetBool(&property, PF::kSessionScoped, flags.sessionScoped);
    APMPBSetBool(&property, PF::kDynamic, flags.dynamic);
    APMPBSetBool(&property, PF::kSequence, flags.sequence);
    return property;
}

std::shared_ptr<APMPBAudience> audience(std::int32_t audienceID,
                                        std::vector<APMPBEventFilter> events,
                                        std::vector<APMPBPropertyFilter> properties = {}) {
    auto message = std::make_shared<APMPBAudience>();
    APMPBSetInt32(message.get(), apmpb::Audience::kAudienceId,
                  static_cast<std::uint32_t>(audienceID));
    APMPBRepeatedArray eventElements, propertyElements;
    for (const auto& filter : events) {
        eventElements.emplace_back(std::make_shared<APMPBEventFilter>(filter));
    }
    for (const auto& filter : properties) {
        propertyElements.emplace_back(std::make_shared<APMPBPropertyFilter>(filter));
    }
    APMPBSetRepeated(message.get(), apmpb::Audience::kEventFilters, eventElements);
    APMPBSetRepeated(message.get(), apmpb::Audience::kPropertyFilters, propertyElements);
    return message;
}

class APMAudienceTest : public sdktest::RemoteConfigTest {
  public:
    void SetUp() override {
        RemoteConfigTest::SetUp();
        useSettings({});
        audience_ = APMAudience::initWithDatabase(database_);
        ASSERT_TRUE(audience_);
    }
    void TearDown() override {
        APMRemoteConfig::setCurrent(nullptr);
        RemoteConfigTest::TearDown();
    }

    void useSettings(const std::vector<std::pair<std::string, std::string>>& settings) {
        APMRemoteConfig::setCurrent(configWithSettings(settings));
    }

    bool store(const std::vector<std::shared_ptr<APMPBAudience>>& audiences) {
        return audience_->updateAudiences(APMPBRepeatedArray(audiences.begin(), audiences.end()));
    }

    bool logEvent(const std::string& name, const APMParameters& parameters = {},
                  double timestamp = kTime, APMAudienceTimestampsCache* cache = nullptr) {
        const APMEventAggregates aggregates(name, 1, 1, 1, timestamp);
        return audience_->evaluateFiltersForEventName(name, parameters, &aggregates, timestamp,
                                                      cache);
    }

    bool setProperty(const std::string& name, const std::string& value, double timestamp = kTime) {
        const auto attribute =
            APMUserAttribute::initWithOrigin("app", name, APMValue(value), timestamp);
        EXPECT_TRUE(attribute);
        return audience_->evaluateFiltersForUserProperty(*attribute, nullptr, timestamp);
    }

    // protoc's text of a stored result column, or "<no row>".
    std::string stored(std::int32_t audienceID, const std::string& column = "current_results") {
        const std::string where =
            " FROM audience_filter_values WHERE audience_id = " + std::to_string(audienceID);
        if (cli("SELECT count(*)" + where + ";") != "1\n") {
            return "<no row>";
        }
        const std::filesystem::path file = dir_ / "blob.bin";
        std::filesystem::remove(file);
        cli("SELECT writefile('" + file.string() + "', " + column + ")" + where + ";");
        return sdktest::protocDecode(file, "apmpb.ResultData");
    }

    std::string decoded(const NANOMessageBase& message, const std::string& type) {
        const std::filesystem::path file = dir_ / "message.bin";
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(message.protoBuffer()->data()),
                   static_cast<std::streamsize>(message.protoBuffer()->size()));
        return sdktest::protocDecode(file, type);
    }

    std::vector<std::string> bundle() {
        std::optional<std::vector<APMPBAudienceLeafFilterResult>> results;
        EXPECT_TRUE(audience_->resultsForBundling(results));
        std::vector<std::string> texts;
        for (const auto& leaf : results.value_or(std::vector<APMPBAudienceLeafFilterResult>{})) {
            texts.push_back(decoded(leaf, "apmpb.AudienceLeafFilterResult"));
        }
        return texts;
    }

    void storeResult(std::int32_t audienceID, const APMPBResultData& data) {
        sdk::Error error;
        ASSERT_TRUE(database_->updateFilterResults(
            {APMFilterResult(audienceID, data.protoBuffer().value(), {})}, &error))
            << error.ToString();
    }

    std::shared_ptr<APMAudience> audience_;
};

// Storing ----------------------------------------------------------------------------------

TEST_F(APMAudienceTest, StoresValidAudiencesUnderInternalNames) {
    ASSERT_TRUE(store({
        audience(1, {eventFilter(0, "screen_view", {}, "engagement_time_msec", "x")},
                 {propertyFilter(1, "first_open_time", "1")}),
        audience(-2, {eventFilter(0, "scan_completed")}),  // invalid: negative ID
        audience(3, {eventFilter(2, "scan_completed", {.sessionScoped = true})},
                 {propertyFilter(4, "plan", "gold", {.sessionScoped = true})}),
    }));
    EXPECT_TRUE(monitor_.saw(6009));
    EXPECT_EQ(cli("SELECT audience_id, filter_id, event_name, session_scoped FROM event_filters "
                  "ORDER BY audience_id;"),
              "1|0|_vs|0\n3|2|scan_completed|1\n");
    EXPECT_EQ(cli("SELECT audience_id, filter_id, property_name, session_scoped FROM "
                  "property_filters ORDER BY audience_id;"),
              "1|1|_fot|0\n3|4|plan|1\n");
    const std::filesystem::path file = dir_ / "filter.bin";
    cli("SELECT writefile('" + file.string() +
        "', data) FROM event_filters WHERE audience_id = 1;");
    const std::string text = sdktest::shellOutput(
        "'" + std::string(CB_PROTOC) + "' -I '" + CB_MESSAGES_PROTO_DIR +
        "' --decode=apmpb.EventFilter configuration.proto < '" + file.string() + "'");
    EXPECT_THAT(text, HasSubstr("event_name: \"_vs\""));
    EXPECT_THAT(text, HasSubstr("param_name: \"_et\""));
}

TEST_F(APMAudienceTest, TooManyAudiencesChangeNothing) {
    ASSERT_TRUE(store({audience(5, {eventFilter(0, "scan_completed")})}));
    std::vector<std::shared_ptr<APMPBAudience>> many;
    for (std::int32_t id = 0; id < 101; ++id) {
        many.push_back(audience(100 + id, {eventFilter(1, "other")}));
    }
    monitor_.clear();
    EXPECT_TRUE(store(many));
    EXPECT_TRUE(monitor_.saw(6008));
    EXPECT_EQ(cli("SELECT audience_id, event_name FROM event_filters;"), "5|scan_completed\n");
}

TEST_F(APMAudienceTest, ResultsOutliveTheirAudienceUntilThereAreTooMany) {
    ASSERT_TRUE(store({audience(1, {eventFilter(0, "scan_completed")})}));
    ASSERT_TRUE(logEvent("scan_completed"));
    ASSERT_TRUE(store({audience(2, {eventFilter(0, "scan_completed")})}));
    ASSERT_TRUE(logEvent("scan_completed"));
    // Audience 1 vanished; its result stays while results are few.
    EXPECT_EQ(cli("SELECT audience_id FROM audience_filter_values ORDER BY 1;"), "1\n2\n");
    ASSERT_TRUE(store({audience(3, {eventFilter(0, "scan_completed")})}));
    ASSERT_TRUE(logEvent("scan_completed"));
    EXPECT_FALSE(monitor_.saw(6016));

    // Above the limit only results of audiences in neither the replaced tables (3) nor the new
    // set (4) go: audience 1 and 2's.
    useSettings({{"measurement.audience.filter_result_max_count", "2"}});
    ASSERT_TRUE(store({audience(4, {eventFilter(0, "scan_completed")})}));
    EXPECT_TRUE(monitor_.saw(6016));
    EXPECT_EQ(cli("SELECT audience_id FROM audience_filter_values ORDER BY 1;"), "3\n");
}

// Bits and times -----------------------------------------------------------------------------

TEST_F(APMAudienceTest, AMatchSetsItsFiltersStatusAndResultBits) {
    useSettings({{"measurement.audience.filter_max_count_per_audience", "100"}});
    ASSERT_TRUE(store({
        audience(7, {eventFilter(3, "scan_completed"), eventFilter(5, "other")}),
        audience(8, {eventFilter(64, "scan_completed")}),
    }));
    ASSERT_TRUE(logEvent("scan_completed"));
    EXPECT_EQ(stored(7), "status: 8\nresults: 8\n");
    EXPECT_EQ(stored(8), "status: 0\nstatus: 1\nresults: 0\nresults: 1\n");
}

TEST_F(APMAudienceTest, AStaticTrueEventFilterIsFinal) {
    ASSERT_TRUE(store({audience(7, {eventFilter(3, "scan_completed")})}));
    ASSERT_TRUE(logEvent("scan_completed"));
    cli("UPDATE event_filters SET data = X'FFFF';");
    monitor_.clear();
    ASSERT_TRUE(logEvent("scan_completed"));
    EXPECT_FALSE(monitor_.saw(6035));
    EXPECT_EQ(stored(7), "status: 8\nresults: 8\n");
}

TEST_F(APMAudienceTest, AFalseEvaluationOfATrueDynamicEventFilterLeavesItTrue) {
    ASSERT_TRUE(store(
        {audience(7, {eventFilter(1, "scan_completed", {.dynamic = true}, "kind", "full")})}));
    ASSERT_TRUE(logEvent("scan_completed", {{"kind", APMValue("full")}}, 1700000000.9));
    ASSERT_TRUE(logEvent("scan_completed", {{"kind", APMValue("quick")}}, 1700000100.0));
    // True stays, and the time is that of the last true evaluation, in whole seconds.
    EXPECT_EQ(stored(7),
              "status: 2\nresults: 2\n"
              "dynamic_filter_timestamps {\n  filter_id: 1\n  timestamp: 1700000000\n}\n");
}

TEST_F(APMAudienceTest, AnEventFilterThatCannotBeEvaluatedChangesNothing) {
    ASSERT_TRUE(store({audience(7, {eventFilter(1, "scan_completed", {}, "kind", "full")})}));
    ASSERT_TRUE(logEvent("scan_completed"));  // no "kind": 7009
    EXPECT_TRUE(monitor_.saw(7009));
    EXPECT_EQ(stored(7), "<no row>");
}

TEST_F(APMAudienceTest, StoredFilterIDsOutsideTheLimitAddressNoWord) {
    for (const std::string id : {"-1", "10", "2000000000"}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(store({audience(7, {eventFilter(3, "scan_completed")})}));
        cli("UPDATE event_filters SET filter_id = " + id + ";");
        monitor_.clear();
        EXPECT_TRUE(logEvent("scan_completed"));
        EXPECT_TRUE(monitor_.saw(6035));
        EXPECT_EQ(stored(7), "<no row>");
    }
}

TEST_F(APMAudienceTest, SequenceFiltersKeepTheirTimesInOrder) {
    ASSERT_TRUE(store({audience(7, {eventFilter(2, "scan_completed", {.sequence = true})})}));
    APMAudienceTimestampsCache cache;
    ASSERT_TRUE(logEvent("scan_completed", {}, 1700000001.5, &cache));
    ASSERT_TRUE(logEvent("scan_completed", {}, 1700000005.0, &cache));
    EXPECT_EQ(stored(7),
              "status: 4\nresults: 4\nsequence_filter_timestamps {\n  filter_id: 2\n"
              "  eval_timestamps: 1700000001\n  eval_timestamps: 1700000005\n}\n");
}

TEST_F(APMAudienceTest, PropertyFiltersTurnFalseOnlyWhenDynamicAndNotSessionScoped) {
    struct Case {
        Flags flags;
        std::string after;
    };
    const std::vector<Case> cases = {
        {{}, "status: 1\nresults: 1\n"},
        {{.dynamic = true}, "status: 1\nresults: 0\n"},
        {{.sessionScoped = true, .dynamic = true}, "status: 1\nresults: 1\n"},
    };
    std::int32_t audienceID = 0;
    for (const Case& c : cases) {
        ++audienceID;
        ASSERT_TRUE(
            store({audience(audienceID, {}, {propertyFilter(0, "plan", "gold", c.flags)})}));
        ASSERT_TRUE(setProperty("plan", "gold"));
        ASSERT_TRUE(setProperty("plan", "silver", kTime + 10));
        const std::string text = stored(audienceID);
        EXPECT_EQ(text.substr(0, text.find("dynamic")), c.after) << audienceID;
    }
}

TEST_F(APMAudienceTest, AWireAttributeWithoutValueIsRefused) {
    APMPBUserAttribute attribute;
    APMPBSetString(&attribute, apmpb::UserAttribute::kName, "plan");
    EXPECT_FALSE(audience_->evaluateFiltersForNanoUserProperty(attribute, nullptr, kTime));
    EXPECT_TRUE(monitor_.saw(6039));
}

// Bundling -----------------------------------------------------------------------------------

TEST_F(APMAudienceTest, BundlesCarryEveryAudienceWithPreviousResultsWhenChanged) {
    ASSERT_TRUE(store({audience(
        7, {eventFilter(1, "scan_completed"), eventFilter(2, "scan_completed", {.sequence = true})},
        {propertyFilter(3, "plan", "gold")})}));
    APMAudienceTimestampsCache cache;
    ASSERT_TRUE(logEvent("scan_completed", {}, 1700000001.0, &cache));
    ASSERT_TRUE(logEvent("scan_completed", {}, 1700000002.0, &cache));
    const std::string current =
        "  status: 6\n  results: 6\n  sequence_filter_timestamps {\n    filter_id: 2\n"
        "    eval_timestamps: 1700000001\n    eval_timestamps: 1700000002\n  }\n";
    EXPECT_EQ(bundle(), std::vector<std::string>{"audience_id: 7\ncurrent_data {\n" + current +
                                                 "}\nnew_audience: true\n"});
    EXPECT_EQ(stored(7, "previous_results"), stored(7));

    // Unchanged: no previous results, and the first sequence entry keeps its last time.
    const std::string cut =
        "  status: 6\n  results: 6\n  sequence_filter_timestamps {\n    filter_id: 2\n"
        "    eval_timestamps: 1700000002\n  }\n";
    EXPECT_EQ(bundle(), std::vector<std::string>{"audience_id: 7\ncurrent_data {\n" + cut +
                                                 "}\nnew_audience: false\n"});

    // The row keeps as previous results what it held before the cut.
    EXPECT_EQ(stored(7, "previous_results"),
              "status: 6\nresults: 6\nsequence_filter_timestamps "
              "{\n  filter_id: 2\n  eval_timestamps: 1700000001\n"
              "  eval_timestamps: 1700000002\n}\n");

    // Changed: the previous results attached.
    ASSERT_TRUE(setProperty("plan", "gold"));
    const std::vector<std::string> changed = bundle();
    ASSERT_EQ(changed.size(), 1u);
    EXPECT_THAT(changed[0], HasSubstr("current_data {\n  status: 14\n  results: 14\n"));
    EXPECT_THAT(changed[0], HasSubstr("previous_data {\n" + current + "}\nnew_audience: false\n"));
    EXPECT_EQ(stored(7, "previous_results"), stored(7));
}

TEST_F(APMAudienceTest, ResultsWithoutStatusOrDataAreLeftOut) {
    APMPBResultData zero;
    APMPBSetRepeated(&zero, apmpb::ResultData::kStatus, APMPBRepeatedArray{sdk::Value(0)});
    APMPBSetRepeated(&zero, apmpb::ResultData::kResults, APMPBRepeatedArray{sdk::Value(0)});
    storeResult(1, zero);
    sdk::Error error;
    ASSERT_TRUE(
        database_->updateFilterResults({APMFilterResult(2, sdk::Bytes{0xFF, 0xFF}, {})}, &error));
    EXPECT_TRUE(bundle().empty());
    EXPECT_TRUE(monitor_.saw(6020));
    EXPECT_TRUE(monitor_.saw(6021));
    EXPECT_EQ(cli("SELECT count(*) FROM audience_filter_values WHERE previous_results IS NOT "
                  "NULL;"),
              "0\n");
}

// Sessions -----------------------------------------------------------------------------------

TEST_F(APMAudienceTest, ASessionStartClearsTheSessionScopedFilters) {
    ASSERT_TRUE(store({
        audience(1, {eventFilter(0, "scan_completed", {.sessionScoped = true})}),
        audience(2, {eventFilter(0, "scan_completed", {.sessionScoped = true}),
                     eventFilter(1, "scan_completed", {.dynamic = true})}),
    }));
    ASSERT_TRUE(logEvent("scan_completed"));
    ASSERT_THAT(stored(2), HasSubstr("filter_id: 0\n"));
    ASSERT_TRUE(audience_->clearEvaluationResultsForSessionScopedFilters());
    EXPECT_EQ(stored(1), "<no row>");
    EXPECT_EQ(stored(2),
              "status: 2\nresults: 2\n"
              "dynamic_filter_timestamps {\n  filter_id: 1\n  timestamp: 1700000000\n}\n");
}

TEST_F(APMAudienceTest, ASessionStartDropsTheSequenceTimesOfTheSessionScopedFilters) {
    ASSERT_TRUE(store(
        {audience(3, {eventFilter(0, "scan_completed", {.sessionScoped = true, .sequence = true}),
                      eventFilter(1, "scan_completed", {.sequence = true})})}));
    APMAudienceTimestampsCache cache;
    ASSERT_TRUE(logEvent("scan_completed", {}, 1700000001.5, &cache));
    ASSERT_THAT(stored(3), HasSubstr("filter_id: 0\n"));
    ASSERT_TRUE(audience_->clearEvaluationResultsForSessionScopedFilters());
    EXPECT_EQ(stored(3),
              "status: 2\nresults: 2\nsequence_filter_timestamps {\n  filter_id: 1\n"
              "  eval_timestamps: 1700000001\n}\n");
}

// Failures -----------------------------------------------------------------------------------

TEST_F(APMAudienceTest, DatabaseFailuresEndTheCallWithoutWriting) {
    ASSERT_TRUE(store({audience(7, {eventFilter(3, "scan_completed", {.sessionScoped = true})})}));
    const std::string failWrites =
        "CREATE TRIGGER no_insert BEFORE INSERT ON audience_filter_values BEGIN SELECT "
        "RAISE(ABORT, 'refused'); END; CREATE TRIGGER no_update BEFORE UPDATE ON "
        "audience_filter_values BEGIN SELECT RAISE(ABORT, 'refused'); END;";
    struct Case {
        std::string sql;
        std::function<bool(APMAudienceTest&)> call;
        std::int64_t code;
    };
    const std::vector<Case> cases = {
        {"DROP TABLE event_filters;", [](auto& t) { return t.logEvent("scan_completed"); }, 6000},
        {failWrites, [](auto& t) { return t.logEvent("scan_completed"); }, 6003},
        {"DROP TABLE audience_filter_values;",
         [](auto& t) {
             std::optional<std::vector<APMPBAudienceLeafFilterResult>> results;
             const bool ok = t.audience_->resultsForBundling(results);
             EXPECT_FALSE(results);
             return ok;
         },
         6019},
        {failWrites,
         [](auto& t) {
             std::optional<std::vector<APMPBAudienceLeafFilterResult>> results;
             const bool ok = t.audience_->resultsForBundling(results);
             EXPECT_FALSE(results);
             return ok;
         },
         6022},
        {"DROP TABLE event_filters;",
         [](auto& t) { return t.audience_->clearEvaluationResultsForSessionScopedFilters(); },
         6040},
        {"DROP TABLE audience_filter_values;",
         [](auto& t) { return t.audience_->clearEvaluationResultsForSessionScopedFilters(); },
         6041},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        // A fresh file with one stored result, whose rows then must not change.
        sdk::Error error;
        ASSERT_TRUE(database_->reset(&error)) << error.ToString();
        ASSERT_TRUE(
            store({audience(7, {eventFilter(3, "scan_completed", {.sessionScoped = true})})}));
        ASSERT_TRUE(logEvent("scan_completed"));
        const std::string before = cli("SELECT * FROM audience_filter_values;");
        cli(c.sql);
        monitor_.clear();
        EXPECT_FALSE(c.call(*this));
        EXPECT_TRUE(monitor_.saw(c.code));
        if (c.sql == failWrites) {
            cli("DROP TRIGGER no_insert; DROP TRIGGER no_update;");
        }
        if (c.sql != "DROP TABLE audience_filter_values;") {
            EXPECT_EQ(cli("SELECT * FROM audience_filter_values;"), before);
        }
    }
}

}  // namespace
