#include "sdk/measurement/attribution/APMLifetimeValueRecorder.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/storage/APMSqliteStore.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace {

const APMParameterLimits kLimits{100, 27, 500};

// The user_attributes table of the measurement database in a file of its own, through the
// SQLite store, so what the recorder writes can be read back with the sqlite3 tool. Each
// operation can be made to fail.
class SqliteLifetimeValueStore : public APMLifetimeValueStore {
  public:
    explicit SqliteLifetimeValueStore(const std::filesystem::path& path)
        : path_(path), store_(APMSqliteStore::initWithDatabasePath(path.string(), nullptr)) {
        EXPECT_TRUE(store_->ensureTableWithName("user_attributes",
                                                {{"name", "TEXT PRIMARY KEY"},
                                                 {"set_timestamp", "REAL NOT NULL"},
                                                 {"value", "BLOB NOT NULL"}},
                                                {{"origin", "TEXT"}}, nullptr));
    }

    std::optional<std::vector<APMUserAttribute>> allLifetimeValueUserAttributes(
        sdk::Error* error) override {
        if (failQuery) {
            APMSetErrorWithCode(error, 2, "query failed");
            return std::nullopt;
        }
        const auto records = store_->recordsForQuery(
            "SELECT * FROM user_attributes WHERE name LIKE '!_ltv!_%' ESCAPE '!' ORDER BY "
            "set_timestamp DESC",
            {}, error);
        std::vector<APMUserAttribute> attributes;
        for (const APMSqliteRecord& record : records.value()) {
            attributes.push_back(*APMUserAttribute::initWithOrigin(
                *record.at("origin").string(), *record.at("name").string(),
                APMValue(*record.at("value").intValue()),
                *record.at("set_timestamp").doubleValue()));
        }
        return attributes;
    }
    bool deleteUserAttributeWithName(std::string_view name, sdk::Error* error) override {
        if (failDelete) {
            APMSetErrorWithCode(error, 2, "delete failed");
            return false;
        }
        return store_->deleteRecordFromTableWithName("user_attributes", "name", sdk::Value(name),
                                                     error);
    }
    bool updateUserAttribute(const APMUserAttribute& attribute, sdk::Error* error) override {
        if (failUpdate) {
            APMSetErrorWithCode(error, 2, "update failed");
            return false;
        }
        return store_->upsertRecord({{"name", attribute.name()},
                                     {"origin", attribute.origin()},
                                     {"set_timestamp", attribute.lastSetTimestamp()},
                                     {"value", attribute.value().value()}},
                                    "user_attributes", error);
    }

    // What the sqlite3 tool reads: "name|value|origin" lines in name order.
    std::string cli() const {
        return cb::testsupport::commandOutput(
            "sqlite3 '" + path_.string() +
            "' 'SELECT name, value, origin FROM user_attributes ORDER BY name'");
    }

    bool failQuery = false;
    bool failDelete = false;
    bool failUpdate = false;

  private:
    std::filesystem::path path_;
    std::unique_ptr<APMSqliteStore> store_;
};

class LifetimeValueTest : public ::testing::Test {
  protected:
    LifetimeValueTest() { TEST_APMSetCurrentTimeInterval(1000.0); }
    ~LifetimeValueTest() override { TEST_APMSetCurrentTimeInterval(std::nullopt); }

    // Records `name` with the currency and value given, one second after the last.
    bool record(const std::string& name, const char* currency, APMValue value) {
        TEST_APMSetCurrentTimeInterval(now_ += 1.0);
        auto event = APMEvent::initWithOrigin(name.starts_with("_") ? "auto" : "app", false, name,
                                              now_, 0, {}, kLimits);
        EXPECT_TRUE(event);
        event->parameters().insert_or_assign("currency", APMValue(currency));
        event->parameters().insert_or_assign("value", std::move(value));
        return APMLifetimeValueRecorder::recordLifetimeValueToDatabase(store_, *event);
    }

    cb::testsupport::TempDir dir_{"cb-ltv"};
    SqliteLifetimeValueStore store_{dir_ / "vovidu-app-measurement.sql"};
    sdktest::MonitorRecorder monitor_;
    double now_ = 1000.0;
};

TEST_F(LifetimeValueTest, PurchasesAddAndRefundsSubtractInMicrosPerCurrency) {
    EXPECT_TRUE(record("_iap", "USD", APMValue(std::int64_t{990000})));
    EXPECT_TRUE(record("purchase", "eur", APMValue(std::int64_t{3})));
    EXPECT_TRUE(record("_iap", "USD", APMValue(std::int64_t{990000})));
    EXPECT_TRUE(record("refund", "usd", APMValue(2.5)));
    EXPECT_TRUE(record("ecommerce_purchase", "USD", APMValue(0.0000005)));  // half away from 0
    EXPECT_EQ(store_.cli(), "_ltv_EUR|3000000|auto\n_ltv_USD|-519999|auto\n");
    EXPECT_TRUE(monitor_.saw(22006));
}

TEST_F(LifetimeValueTest, UnusableCurrenciesAndValuesStoreNothingAndAnswerYes) {
    EXPECT_TRUE(record("purchase", "US", APMValue(1.0)));
    EXPECT_TRUE(monitor_.saw(22000));
    auto event = APMEvent::initWithOrigin("app", false, "purchase", 1, 0, {}, kLimits);
    event->parameters().insert_or_assign("currency", APMValue(std::int64_t{840}));
    event->parameters().insert_or_assign("value", APMValue(1.0));
    EXPECT_TRUE(APMLifetimeValueRecorder::recordLifetimeValueToDatabase(store_, *event));
    EXPECT_TRUE(record("purchase", "USD", APMValue("12")));
    EXPECT_TRUE(monitor_.saw(22001));
    EXPECT_TRUE(record("screen_view", "USD", APMValue(1.0)));
    EXPECT_EQ(store_.cli(), "");
}

TEST_F(LifetimeValueTest, ANewCurrencyBeyondTheLimitReplacesTheLeastRecentlySet) {
    // The default configuration tracks 4 currencies.
    for (const char* currency : {"AAA", "BBB", "CCC", "DDD"}) {
        EXPECT_TRUE(record("_iap", currency, APMValue(std::int64_t{1})));
    }
    EXPECT_TRUE(record("_iap", "AAA", APMValue(std::int64_t{1})));  // now BBB is the oldest
    EXPECT_TRUE(record("_iap", "EEE", APMValue(std::int64_t{5})));
    EXPECT_EQ(store_.cli(), "_ltv_AAA|2|auto\n_ltv_CCC|1|auto\n_ltv_DDD|1|auto\n_ltv_EEE|5|auto\n");
}

TEST_F(LifetimeValueTest, ACodeThatIsNotThreeASCIILettersDeletesNothingWithAllSlotsTaken) {
    // The default configuration tracks 4 currencies: each new code below would evict AAA.
    for (const char* currency : {"AAA", "BBB", "CCC", "DDD"}) {
        ASSERT_TRUE(record("_iap", currency, APMValue(std::int64_t{1})));
    }
    for (const char* currency :
         {"a b", "\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", "US1", "U$D", "\xC3\xA9UR", "usdx"}) {
        SCOPED_TRACE(currency);
        monitor_.clear();
        EXPECT_TRUE(record("purchase", currency, APMValue(1.0)));
        EXPECT_TRUE(monitor_.saw(22000));
        EXPECT_FALSE(monitor_.saw(22005));
    }
    EXPECT_EQ(store_.cli(), "_ltv_AAA|1|auto\n_ltv_BBB|1|auto\n_ltv_CCC|1|auto\n_ltv_DDD|1|auto\n");
}

TEST_F(LifetimeValueTest, AmountsOutsideTheInt64RangeAreRefusedAndNothingChanges) {
    EXPECT_TRUE(record("_iap", "USD", APMValue(std::numeric_limits<std::int64_t>::max() - 1)));
    struct Case {
        const char* name;
        const char* event;
        APMValue value;
    };
    const Case cases[] = {
        {"1e13 units", "purchase", APMValue(1e13)},
        {"-1e13 units", "refund", APMValue(-1e13)},
        {"not a number", "purchase", APMValue(std::nan(""))},
        {"infinity", "refund", APMValue(std::numeric_limits<double>::infinity())},
        {"a sum past the largest int64", "_iap", APMValue(std::int64_t{2})},
        {"an _iap double beyond int64", "_iap", APMValue(1e19)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        monitor_.clear();
        EXPECT_FALSE(record(c.event, "USD", c.value));
        EXPECT_TRUE(monitor_.saw(22002));
    }
    EXPECT_EQ(store_.cli(), "_ltv_USD|9223372036854775806|auto\n");
}

TEST_F(LifetimeValueTest, DatabaseFailuresAnswerNo) {
    for (const char* currency : {"AAA", "BBB", "CCC", "DDD"}) {
        ASSERT_TRUE(record("_iap", currency, APMValue(std::int64_t{1})));
    }
    store_.failQuery = true;
    EXPECT_FALSE(record("_iap", "AAA", APMValue(std::int64_t{1})));
    EXPECT_TRUE(monitor_.saw(22003));
    store_.failQuery = false;
    store_.failDelete = true;
    EXPECT_FALSE(record("_iap", "EEE", APMValue(std::int64_t{1})));
    EXPECT_TRUE(monitor_.saw(22004));
    store_.failDelete = false;
    store_.failUpdate = true;
    EXPECT_FALSE(record("_iap", "AAA", APMValue(std::int64_t{1})));
    EXPECT_TRUE(monitor_.saw(22005));
    EXPECT_EQ(store_.cli(), "_ltv_AAA|1|auto\n_ltv_BBB|1|auto\n_ltv_CCC|1|auto\n_ltv_DDD|1|auto\n");
}

}  // namespace
