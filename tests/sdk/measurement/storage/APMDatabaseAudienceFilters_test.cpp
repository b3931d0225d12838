// Audience filters and results: flags read from the stored messages, writing in order,
// deleting by key, the audience queries.
#include <algorithm>
#include <functional>
#include <map>

#include "tests/sdk/measurement/storage/RecordTestSupport.h"

namespace {

using sdktest::codeAndMessage;

// The encoding of a filter message with the given bool slots set.
template <typename Message>
sdk::Bytes filterData(std::int32_t filterID, const std::vector<std::int32_t>& trueSlots) {
    Message message;
    APMPBSetInt32(&message, 0, static_cast<std::uint32_t>(filterID));  // filter_id, both kinds
    for (std::int32_t slot : trueSlots) {
        APMPBSetBool(&message, slot, true);
    }
    return message.protoBuffer().value();
}

APMEventFilter eventFilter(std::int32_t audienceID, std::int32_t filterID,
                           const std::vector<std::int32_t>& trueSlots = {},
                           bool sessionScoped = false) {
    return APMEventFilter(audienceID, filterID, "_e",
                          filterData<APMPBEventFilter>(filterID, trueSlots), sessionScoped, false,
                          false);
}

APMPropertyFilter propertyFilter(std::int32_t audienceID, std::int32_t filterID,
                                 const std::vector<std::int32_t>& trueSlots = {},
                                 bool sessionScoped = false) {
    return APMPropertyFilter(audienceID, filterID, "plan",
                             filterData<APMPBPropertyFilter>(filterID, trueSlots), sessionScoped,
                             false, false);
}

class APMDatabaseAudienceFiltersTest : public sdktest::RecordTest {};

TEST_F(APMDatabaseAudienceFiltersTest, FlagsAreReadFromTheStoredMessage) {
    namespace EF = apmpb::EventFilter;
    namespace PF = apmpb::PropertyFilter;
    struct Flags {
        bool sessionScoped, dynamic, sequence;
        bool operator==(const Flags&) const = default;
    };
    const std::vector<std::pair<std::vector<std::int32_t>, Flags>> eventCases = {
        {{EF::kSessionScoped}, {true, false, false}},
        {{EF::kDynamic}, {false, true, false}},
        {{EF::kSequence, EF::kDynamic}, {false, true, true}},
    };
    const std::vector<std::pair<std::vector<std::int32_t>, Flags>> propertyCases = {
        {{PF::kSessionScoped}, {true, false, false}},
        {{PF::kDynamic}, {false, true, false}},
        {{PF::kSequence}, {false, false, true}},
    };
    std::vector<APMEventFilter> events;
    std::vector<APMPropertyFilter> properties;
    for (std::int32_t i = 0; i < 3; ++i) {
        // The record's own flags are not what is read back: the message's are.
        events.push_back(
            eventFilter(7, i, eventCases[i].first, !eventCases[i].second.sessionScoped));
        properties.push_back(propertyFilter(8, i, propertyCases[i].first));
    }
    sdk::Error error;
    ASSERT_TRUE(database_->updateEventFilters(events, &error)) << codeAndMessage(error);
    ASSERT_TRUE(database_->updatePropertyFilters(properties, &error)) << codeAndMessage(error);
    EXPECT_EQ(cli("select group_concat(session_scoped) from event_filters"), "0,1,1\n")
        << "the column keeps the record's flag";

    const auto readEvents = database_->eventFiltersForEventName("_e", &error);
    ASSERT_TRUE(readEvents && readEvents->size() == 3) << codeAndMessage(error);
    const auto readProperties = database_->propertyFiltersForPropertyName("plan", &error);
    ASSERT_TRUE(readProperties && readProperties->size() == 3) << codeAndMessage(error);
    for (std::size_t i = 0; i < 3; ++i) {
        const APMEventFilter& e = (*readEvents)[i];
        EXPECT_EQ(e.audienceID(), 7);
        EXPECT_EQ(e.filterID(), static_cast<std::int32_t>(i));
        EXPECT_EQ(e.eventName(), "_e");
        EXPECT_EQ(e.data(), events[i].data());
        EXPECT_EQ((Flags{e.isSessionScoped(), e.isDynamic(), e.isSequence()}), eventCases[i].second)
            << "event filter " << i;
        const APMPropertyFilter& p = (*readProperties)[i];
        EXPECT_EQ(p.propertyName(), "plan");
        EXPECT_EQ((Flags{p.isSessionScoped(), p.isDynamic(), p.isSequence()}),
                  propertyCases[i].second)
            << "property filter " << i;
    }

    cli("update event_filters set data = X'FFFF', session_scoped = 1");
    const auto corrupt = database_->eventFiltersForEventName("_e", &error);
    ASSERT_TRUE(corrupt && corrupt->size() == 3) << codeAndMessage(error);
    for (const APMEventFilter& e : *corrupt) {
        EXPECT_EQ((Flags{e.isSessionScoped(), e.isDynamic(), e.isSequence()}),
                  (Flags{false, false, false}));
    }
    EXPECT_TRUE(database_->eventFiltersForEventName("_other", &error)->empty());
}

TEST_F(APMDatabaseAudienceFiltersTest, DeletingFiltersRemovesExactlyTheirKeys) {
    sdk::Error error;
    ASSERT_TRUE(database_->updateEventFilters(
        {eventFilter(1, 2), eventFilter(3, 4), eventFilter(1, 4), eventFilter(3, 2)}, &error));
    ASSERT_TRUE(database_->deleteEventFilters({eventFilter(1, 2), eventFilter(3, 4)}, &error))
        << codeAndMessage(error);
    EXPECT_EQ(cli("select count(*), group_concat(audience_id || ':' || filter_id) from "
                  "(select * from event_filters order by audience_id)"),
              "2|1:4,3:2\n");

    // More keys than SQLite nests in one expression.
    std::vector<APMPropertyFilter> many;
    for (std::int32_t i = 0; i < 1500; ++i) {
        many.push_back(propertyFilter(i / 100, i % 100));
    }
    ASSERT_TRUE(database_->updatePropertyFilters(many, &error)) << codeAndMessage(error);
    ASSERT_TRUE(database_->updatePropertyFilters({propertyFilter(99, 0)}, &error));
    ASSERT_TRUE(database_->deletePropertyFilters(many, &error)) << codeAndMessage(error);
    EXPECT_EQ(cli("select audience_id, filter_id from property_filters"), "99|0\n");

    ASSERT_TRUE(database_->deleteAllEventFilters(&error));
    ASSERT_TRUE(database_->deleteAllPropertyFilters(&error));
    EXPECT_EQ(cli("select (select count(*) from event_filters) + "
                  "(select count(*) from property_filters)"),
              "0\n");
}

TEST_F(APMDatabaseAudienceFiltersTest, AFailingElementEndsTheWriteAndKeepsEarlierRows) {
    const APMEventFilter noData(1, 2, "_e", {}, false, false, false);
    const APMPropertyFilter noName(1, 2, "", {1}, false, false, false);
    sdk::Error error;
    EXPECT_FALSE(
        database_->updateEventFilters({eventFilter(1, 1), noData, eventFilter(1, 3)}, &error));
    EXPECT_EQ(codeAndMessage(error),
              "3 Received event filter with empty data for getting dictionary representation");
    EXPECT_EQ(cli("select group_concat(filter_id) from event_filters"), "1\n");

    EXPECT_FALSE(database_->performTransaction([&] {
        return database_->updatePropertyFilters({propertyFilter(1, 1), noName}, &error);
    }));
    EXPECT_EQ(codeAndMessage(error),
              "3 Received property filter with empty property name for "
              "getting dictionary representation");
    EXPECT_EQ(cli("select count(*) from property_filters"), "0\n")
        << "the caller's transaction rolled back";

    const std::vector<std::pair<std::function<bool()>, std::string>> emptyLists = {
        {[&] { return database_->updateEventFilters({}, &error); },
         "1 Received empty event filters to update"},
        {[&] { return database_->updatePropertyFilters({}, &error); },
         "1 Received empty property filters to update"},
        {[&] { return database_->deleteEventFilters({}, &error); },
         "1 Received empty event filters to delete"},
        {[&] { return database_->deletePropertyFilters({}, &error); },
         "1 Received empty property filters to delete"},
        {[&] { return database_->updateFilterResults({}, &error); },
         "1 Received empty filter results to update"},
        {[&] { return database_->deleteFilterResults({}, &error); },
         "1 Received empty filter results to delete"},
        {[&] { return database_->eventFiltersForEventName("", &error).has_value(); },
         "1 Received empty event name for getting event filters"},
        {[&] { return database_->propertyFiltersForPropertyName("", &error).has_value(); },
         "1 Received empty property name for getting property filters"},
    };
    for (const auto& [call, expected] : emptyLists) {
        error = sdk::Error();
        EXPECT_FALSE(call());
        EXPECT_EQ(codeAndMessage(error), expected);
    }
}

TEST_F(APMDatabaseAudienceFiltersTest, AudiencesAndTheirSessionScopedFilters) {
    sdk::Error error;
    ASSERT_TRUE(database_->updateEventFilters(
        {eventFilter(1, 2, {}, true), eventFilter(3, 4, {}, true), eventFilter(3, 5)}, &error));
    ASSERT_TRUE(database_->updatePropertyFilters(
        {propertyFilter(3, 7, {}, true), propertyFilter(5, 1)}, &error));
    auto audiences = database_->allAudienceIDs(&error);
    ASSERT_TRUE(audiences) << codeAndMessage(error);
    std::sort(audiences->begin(), audiences->end());
    EXPECT_EQ(*audiences, (std::vector<std::int32_t>{1, 3, 5}));

    auto scoped = database_->allSessionScopedFilters(&error);
    ASSERT_TRUE(scoped) << codeAndMessage(error);
    std::sort((*scoped)[3].begin(), (*scoped)[3].end());
    EXPECT_EQ(*scoped, (std::map<std::int32_t, std::vector<std::int32_t>>{{1, {2}}, {3, {4, 7}}}));
}

TEST_F(APMDatabaseAudienceFiltersTest, ResultsKeepEmptyPreviousResultsAsNull) {
    const APMFilterResult first(4, {1, 2}, {});
    const APMFilterResult second(9, {3}, {4, 5});
    sdk::Error error;
    ASSERT_TRUE(database_->updateFilterResults({first, second}, &error)) << codeAndMessage(error);
    EXPECT_EQ(cli("select audience_id, typeof(previous_results) from audience_filter_values "
                  "order by audience_id"),
              "4|null\n9|blob\n");
    const auto all = database_->allFilterResults(&error);
    ASSERT_TRUE(all) << codeAndMessage(error);
    EXPECT_EQ(*all, (std::map<std::int32_t, APMFilterResult>{{4, first}, {9, second}}));
    EXPECT_EQ(database_->filterResultForAudienceID(9, &error), second);
    EXPECT_EQ(database_->filterResultForAudienceID(10, &error), std::nullopt);

    EXPECT_FALSE(database_->updateFilterResults(
        {APMFilterResult(5, {9}, {}), APMFilterResult(6, {}, {1})}, &error));
    EXPECT_EQ(codeAndMessage(error),
              "3 Received filter result with empty data for getting dictionary representation");
    EXPECT_EQ(cli("select group_concat(audience_id) from audience_filter_values"), "4,5,9\n");

    ASSERT_TRUE(database_->deleteFilterResults(
        {APMFilterResult(4, {}, {}), APMFilterResult(5, {}, {}), APMFilterResult(4, {}, {})},
        &error))
        << codeAndMessage(error);
    EXPECT_EQ(cli("select group_concat(audience_id) from audience_filter_values"), "9\n");
}

}  // namespace
