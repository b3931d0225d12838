// Purchase and subscription keys, complex events and on-device measurement values.
#include "tests/sdk/measurement/storage/RecordTestSupport.h"

namespace {

using sdktest::codeAndMessage;

class APMDatabaseRecordsTest : public sdktest::RecordTest {};

TEST_F(APMDatabaseRecordsTest, PurchasesAreReportedOnceAndTheNewestThousandKept) {
    sdk::Error error;
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p0", &error), true);
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p0", &error), false);
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("", &error), false);
    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 1; i <= 1000; ++i) {
            if (database_->insertIfNotDuplicatePurchaseFingerprint("p" + std::to_string(i),
                                                                   &error) != true) {
                return false;
            }
        }
        return true;
    })) << codeAndMessage(error);
    EXPECT_EQ(cli("select count(*), min(rowid) from purchase_transactions"), "1000|2\n");
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p0", &error), true)
        << "the oldest was dropped";
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p1000", &error), false);
}

TEST_F(APMDatabaseRecordsTest, SubscriptionsAreReportedOnceAndTrimmedOnRequest) {
    sdk::Error error;
    EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID("", &error), false);
    EXPECT_EQ(cli("select count(*) from subscriptions"), "0\n");
    EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID("s0", &error), true);
    EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID("s0", &error), false);
    cli("with recursive n(i) as (select 1 union all select i + 1 from n where i < 1001) "
        "insert into subscriptions select 'x' || i from n");
    EXPECT_EQ(database_->deleteSubscriptionsOverLimit(&error), 2);
    EXPECT_EQ(cli("select count(*) from subscriptions where subscription_id = 's0'"), "0\n");
}

TEST_F(APMDatabaseRecordsTest, ComplexEventsRoundTripWithTheirChildCount) {
    const APMEvent main = sdktest::makeEvent(
        "_cmp", 12.5, {{"value", sdk::Value(3.25)}, {"currency", sdk::Value("EUR")}});
    sdk::Error error;
    EXPECT_EQ(database_->mainEventAndChildCountPairWithEventID(7, &error), std::nullopt);
    EXPECT_TRUE(error.ok()) << "nothing stored is no error";
    ASSERT_TRUE(database_->updateComplexEventForAudienceEvaluationWithEventID(7, 3, &main, &error))
        << codeAndMessage(error);
    auto pair = database_->mainEventAndChildCountPairWithEventID(7, &error);
    ASSERT_TRUE(pair) << codeAndMessage(error);
    EXPECT_EQ(pair->first.name(), "_cmp");
    EXPECT_EQ(pair->first.protoEvent().protoBuffer(), main.protoEvent().protoBuffer());
    EXPECT_EQ(pair->second, 3);

    cli("update main_event_params set main_event = X'FFFF'");
    EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(7, &error));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to parse event from data");
    cli("update main_event_params set main_event = 'text'");
    EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(7, &error));
    EXPECT_EQ(codeAndMessage(error),
              "2 Failed to convert data to an event. Data must be a NSData instance");

    EXPECT_FALSE(
        database_->updateComplexEventForAudienceEvaluationWithEventID(8, 1, nullptr, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Received nil main event");
    ASSERT_TRUE(database_->deleteComplexEventForAudienceEvaluationWithEventID(7, &error));
    EXPECT_EQ(cli("select count(*) from main_event_params"), "0\n");
}

TEST_F(APMDatabaseRecordsTest, AtMostTenODMValuesWhileKnownNamesUpdate) {
    sdk::Error error;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(database_->updateODMValue("v", "n" + std::to_string(i), i, &error))
            << codeAndMessage(error);
    }
    EXPECT_FALSE(database_->updateODMValue("v", "n10", 10, &error));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to insert data type. Table is full");
    ASSERT_TRUE(database_->updateODMValue("w", "n3", 30.5, &error));
    const auto row = database_->ODMValueWithName("n3", &error);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->at("value"), sdk::Value("w"));
    EXPECT_EQ(row->at("set_timestamp"), sdk::Value(30.5));
    EXPECT_TRUE(row->contains("rowid"));
    ASSERT_TRUE(database_->deleteODMValueWithName("n3", &error));
    EXPECT_EQ(database_->ODMValueWithName("n3", &error), std::nullopt);

    const std::pair<std::function<bool(sdk::Error*)>, std::string> refused[] = {
        {[&](sdk::Error* e) { return database_->updateODMValue("", "n", 1, e); },
         "1 Received empty ODM value for update"},
        {[&](sdk::Error* e) { return database_->updateODMValue("v", "", 1, e); },
         "1 Received ODM value with empty name for update"},
        {[&](sdk::Error* e) { return database_->ODMValueWithName("", e).has_value(); },
         "1 Received ODM value with empty name for query"},
        {[&](sdk::Error* e) { return database_->deleteODMValueWithName("", e); },
         "1 Received ODM value with empty name for delete"},
    };
    for (const auto& [call, message] : refused) {
        sdk::Error callError;
        EXPECT_FALSE(call(&callError));
        EXPECT_EQ(codeAndMessage(callError), message);
    }
}

}  // namespace
