// The name tables and the small tests over them.
#include <gtest/gtest.h>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventNameLists.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

const APMParameterLimits kLimits{100, 27, 500};

TEST(APMEventNameListsTest, TablesAgreeWithEachOther) {
    EXPECT_EQ(APMPublicEventNameMap().at("razudizo_campaign"), "_cmp");
    EXPECT_EQ(APMPublicEventNameMap().at("ma_campaign"), "_cmp");
    EXPECT_EQ(APMInternalEventNameMap().at("_cmp"), "ma_campaign");
    // Every other internal name has exactly one public name, and the inverse gives it back.
    EXPECT_EQ(APMInternalEventNameMap().size(), APMPublicEventNameMap().size() - 1);
    for (const auto& [internalName, publicName] : APMInternalEventNameMap())
        EXPECT_EQ(APMPublicEventNameMap().at(publicName), internalName);

    EXPECT_EQ(APMErrorCodeNames().size(), 25u);
    EXPECT_EQ(APMErrorCodeNames().count(24), 0u);
    EXPECT_EQ(APMErrorCodeNames().at(28), "ItemScopedCustomParameterLimitReached");

    EXPECT_TRUE(APMIsEcommerceEvent("view_search_results"));
    EXPECT_FALSE(APMIsEcommerceEvent("level_up"));
    EXPECT_TRUE(APMIsItemParameter("item_category5"));
    EXPECT_TRUE(APMIsDefaultConversionEvent("_f"));
    EXPECT_FALSE(APMIsPurchaseEvent("refund"));
}

TEST(APMEventNameListsTest, EnglishOrderAndSortedNames) {
    const std::string a = "apple", b = "Banana";
    EXPECT_EQ(APMCompareEnglish(nullptr, &a), -1);
    EXPECT_EQ(APMCompareEnglish(&a, nullptr), 1);
    EXPECT_EQ(APMCompareEnglish(&a, &b), -1);  // not byte order, where "B" < "a"

    sdktest::MonitorRecorder recorder;
    APMParameters errors;
    const auto names = APMSortedValidParameterNames(
        {{"Banana", 1}, {"apple", "x"}, {"bad-name", 1}, {"when", sdk::Value(sdk::Date{})}}, true,
        errors);
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (std::vector<std::string>{"apple", "Banana", "when"}));
    EXPECT_EQ(errors.at("_err"), APMValue(std::int64_t{3}));  // the bad name came first
    EXPECT_TRUE(recorder.saw(18005));
    EXPECT_FALSE(APMSortedValidParameterNames({}, true, errors));
}

TEST(APMEventNameListsTest, EventTests) {
    auto make = [](const char* name, APMRawParameters parameters) {
        return *APMEvent::initWithOrigin("app", false, name, 1, 0, parameters, kLimits);
    };
    EXPECT_TRUE(APMIsSubscriptionEvent(make("_assr", {})));
    EXPECT_TRUE(APMIsSubscriptionEvent(make("_iap", {{"subscription", 1}})));
    EXPECT_FALSE(APMIsSubscriptionEvent(make("_iap", {{"subscription", 0}})));
    EXPECT_TRUE(APMIsErrorEvent(make("_err", {})));

    const sdk::Value::Dictionary item{{"item_id", "A"}};
    const APMEvent purchase =
        make("purchase",
             {{"items", sdk::Value(sdk::Value::Array{item, item})}, {"cad_x", 1}, {"_sc", "Main"}});
    EXPECT_EQ(APMItemCount(purchase), 2);
    EXPECT_TRUE(APMHasArrayParameter(purchase.parameters()));
    EXPECT_EQ(APMRemoveGADParameters(purchase.parameters()).count("cad_x"), 0u);
    EXPECT_EQ(APMScreenParametersFromEvent(purchase.parameters()).size(), 1u);

    sdktest::MonitorRecorder recorder;
    const APMPBRepeatedArray params = APMEventParamsToProto(purchase.parameters(), "purchase");
    EXPECT_TRUE(APMEventParamArrayContainsName(params, "cad_x"));
    EXPECT_FALSE(APMEventParamArrayContainsName(params, "missing"));
    EXPECT_EQ(recorder.codes(), std::vector<std::int64_t>{23156});
}

}  // namespace
