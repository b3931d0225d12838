#include "sdk/measurement/audiences/APMAudienceValidation.h"

#include <gtest/gtest.h>

#include <functional>

#include "sdk/measurement/engine/APMError.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/audiences/AudienceTestSupport.h"

namespace {

using namespace audiencetest;

constexpr APMAudienceLimits kLimits{100, 10, 25, 200};
const std::set<std::int32_t> kAccepted = {5};

APMPBAudience audience(std::optional<std::int32_t> audienceID, std::vector<APMPBEventFilter> events,
                       std::vector<APMPBPropertyFilter> properties = {}) {
    APMPBAudience message;
    if (audienceID) {
        APMPBSetInt32(&message, apmpb::Audience::kAudienceId,
                      static_cast<std::uint32_t>(*audienceID));
    }
    APMPBRepeatedArray eventElements, propertyElements;
    for (const auto& filter : events) {
        eventElements.emplace_back(std::make_shared<APMPBEventFilter>(filter));
    }
    for (const auto& filter : properties) {
        propertyElements.emplace_back(std::make_shared<APMPBPropertyFilter>(filter));
    }
    APMPBSetRepeated(&message, apmpb::Audience::kEventFilters, eventElements);
    APMPBSetRepeated(&message, apmpb::Audience::kPropertyFilters, propertyElements);
    return message;
}

std::vector<APMPBEventFilter> eventFilters(int count) {
    std::vector<APMPBEventFilter> filters;
    for (int i = 0; i < count; ++i) {
        filters.push_back(eventFilter(i, "purchase"));
    }
    return filters;
}

struct Case {
    const char* what;
    APMPBAudience audience;
    std::int64_t code;  // 0: accepted
    const char* message;
};

std::vector<Case> cases() {
    const APMPBNumberFilter valid = numberFilter(3, "1");
    const APMPBNumberFilter invalid = numberFilter(0, "1");
    APMPBNumberFilter asFloat = numberFilter(3, "1");
    APMPBSetBool(&asFloat, apmpb::NumberFilter::kMatchAsFloat, true);
    const APMPBStringFilter badRegex = stringFilter(1, "(");
    const APMPBStringFilter exact = stringFilter(5, "a");
    const APMPBFilter number = numberFilterOf(valid, "p");
    const APMPBFilter both = filterWith(&valid, &exact, "p");
    const APMPBFilter neither = filterWith(nullptr, nullptr, "p");
    const APMPBFilter unnamed = numberFilterOf(valid);
    const APMPBFilter invalidNumber = numberFilterOf(invalid, "p");
    const APMPBFilter regex = stringFilterOf(badRegex, "p");
    const APMPBFilter propertyNumber = numberFilterOf(valid);
    const APMPBFilter propertyInvalid = numberFilterOf(invalid);
    const APMPBFilter propertyRegex = stringFilterOf(badRegex);
    const APMPBPropertyFilter property3 = propertyFilter(3, "level", &propertyNumber);
    const std::vector<APMPBFilter> tooMany(26, number);
    return {
        {"a plain audience", audience(1, {eventFilter(0, "purchase")}, {property3}), 0, ""},
        {"no audience ID", audience(std::nullopt, eventFilters(1)), 9, "Missing audience ID"},
        {"negative ID", audience(-1, eventFilters(1)), 9, "Audience ID is negative"},
        {"duplicate ID", audience(5, eventFilters(1)), 9, "Duplicate audience ID"},
        {"no filters", audience(1, {}), 9, "Audience missing filters arrays"},
        {"the limit of filters", audience(1, eventFilters(10)), 0, ""},
        {"one filter too many", audience(1, eventFilters(9), {property3, property3}), 9,
         "Audience filter count out of range"},
        {"filter ID equal to the limit", audience(1, {eventFilter(10, "purchase")}), 10,
         "Event filter ID is out of range"},
        {"negative filter ID", audience(1, {eventFilter(-1, "purchase")}), 10,
         "Event filter ID is out of range"},
        {"event filter without ID", audience(1, {eventFilter(std::nullopt, "purchase")}), 10,
         "Missing event filter ID"},
        {"event filter without name", audience(1, {eventFilter(0, "")}), 10,
         "Event filter missing event name"},
        {"two event filters with one ID",
         audience(1, {eventFilter(2, "purchase"), eventFilter(2, "refund")}), 10,
         "Duplicate event filter ID"},
        {"event and property filter share ID 3",
         audience(1, {eventFilter(3, "purchase")}, {property3}), 11,
         "Duplicate property filter ID"},
        {"float count filter", audience(1, {eventFilter(0, "purchase", {}, &asFloat)}), 10,
         "Event filter has float event count filter"},
        {"invalid count filter", audience(1, {eventFilter(0, "purchase", {}, &invalid)}), 10,
         "Event filter has invalid event count filter"},
        {"too many parameter filters", audience(1, {eventFilter(0, "purchase", tooMany)}), 10,
         "Event filter parameters filters count out of range"},
        {"unnamed parameter filter", audience(1, {eventFilter(0, "purchase", {unnamed})}), 10,
         "Event filter missing parameter name"},
        {"both filter kinds", audience(1, {eventFilter(0, "purchase", {both})}), 10,
         "Event filter must have exactly one of number or string filter"},
        {"neither filter kind", audience(1, {eventFilter(0, "purchase", {neither})}), 10,
         "Event filter must have exactly one of number or string filter"},
        {"invalid number parameter", audience(1, {eventFilter(0, "purchase", {invalidNumber})}), 10,
         "Event filter has invalid number filter"},
        {"invalid regex parameter", audience(1, {eventFilter(0, "purchase", {regex})}), 10,
         "Event filter has invalid string filter"},
        {"property without name", audience(1, {}, {propertyFilter(1, "", &propertyNumber)}), 11,
         "Property filter missing property name"},
        {"property without ID",
         audience(1, {}, {propertyFilter(std::nullopt, "l", &propertyNumber)}), 11,
         "Missing property filter ID"},
        {"property ID out of range", audience(1, {}, {propertyFilter(10, "l", &propertyNumber)}),
         11, "Property filter ID is out of range"},
        {"property without filter", audience(1, {}, {propertyFilter(1, "l", nullptr)}), 11,
         "Property filter has no filter"},
        {"property with both kinds", audience(1, {}, {propertyFilter(1, "l", &both)}), 11,
         "Property filter must have exactly one of number or string filter"},
        {"property with invalid number",
         audience(1, {}, {propertyFilter(1, "l", &propertyInvalid)}), 11,
         "Property filter must have exactly one of number or string filter"},
        {"property with invalid regex", audience(1, {}, {propertyFilter(1, "l", &propertyRegex)}),
         11, "Property filter has invalid string filter"},
    };
}

TEST(APMValidateAudience, AcceptsOrNamesTheFirstFault) {
    // The filter checks log; the recorder also waits for the monitor's queued writes at the end.
    sdktest::MonitorRecorder recorder;
    for (const Case& c : cases()) {
        sdk::Error error;
        const bool accepted = APMValidateAudience(c.audience, kAccepted, kLimits, &error);
        EXPECT_EQ(accepted, c.code == 0) << c.what;
        if (c.code != 0) {
            EXPECT_EQ(error.domain(), kAPMErrorDomain) << c.what;
            EXPECT_EQ(error.code(), c.code) << c.what;
            EXPECT_EQ(error.localizedDescription(), c.message) << c.what;
        }
    }
}

TEST(APMValidateAudience, FilterChecksLogTheirOwnCodes) {
    const APMPBStringFilter badRegex = stringFilter(1, "(");
    const APMPBFilter regex = stringFilterOf(badRegex, "p");
    sdktest::MonitorRecorder recorder;
    EXPECT_FALSE(APMValidateAudience(audience(1, {eventFilter(0, "purchase", {regex})}), {},
                                     kLimits, nullptr));
    EXPECT_EQ(recorder.codes(), std::vector<std::int64_t>{9004});
}

TEST(APMAudienceLimits, DefaultConfigurationGivesTheDefaults) {
    const APMAudienceLimits limits = APMAudienceLimits::current();
    EXPECT_EQ(limits.maxAudienceCount, 100);
    EXPECT_EQ(limits.maxFiltersPerAudience, 10);
    EXPECT_EQ(limits.maxParametersPerFilter, 25);
    EXPECT_EQ(limits.maxFilterResultCount, 200);
}

}  // namespace
