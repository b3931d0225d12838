// The upload queue: stored bundles as gzip and protoc see them, batches within limits, retries,
// deletion and the periodic stale-data clean-up.
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/storage/RecordTestSupport.h"

namespace {

using sdktest::codeAndMessage;

constexpr double kNow = 1700000000;

// A bundle ending at `endMillis` whose encoding is `size` bytes long (at least 30).
std::unique_ptr<APMPBMeasurementBundle> makeBundle(std::int64_t endMillis, std::size_t size = 0) {
    auto bundle = sdktest::makeMetadata(sdktest::kAppID);
    APMPBSetInt64(bundle.get(), apmpb::MeasurementBundle::kEndTimestampMillis, endMillis);
    if (size > 0) {
        std::string padding;
        APMPBSetString(bundle.get(), apmpb::MeasurementBundle::kPlatform, padding);
        while (bundle->protoBuffer()->size() < size) {
            padding += "x";
            APMPBSetString(bundle.get(), apmpb::MeasurementBundle::kPlatform, padding);
        }
        EXPECT_EQ(bundle->protoBuffer()->size(), size);
    }
    return bundle;
}

constexpr std::int64_t kNowMillis = static_cast<std::int64_t>(kNow * 1000);

class APMDatabaseQueueTest : public sdktest::RecordTest {
  protected:
    void SetUp() override {
        RecordTest::SetUp();
        TEST_APMSetCurrentTimeInterval(kNow);
    }
    void insert(const APMPBMeasurementBundle& bundle, bool realtime = false) {
        sdk::Error error;
        ASSERT_TRUE(database_->insertBundle(&bundle, realtime, &error)) << codeAndMessage(error);
    }
    std::vector<std::int64_t> rowIDs(const std::vector<APMQueuedBundle>& bundles) {
        std::vector<std::int64_t> ids;
        for (const auto& [bundle, rowID] : bundles) {
            ids.push_back(rowID);
        }
        return ids;
    }
};

TEST_F(APMDatabaseQueueTest, BundlesAreStoredAsGzipWithTheirEndTime) {
    insert(*makeBundle(kNowMillis + 250), true);
    EXPECT_TRUE(monitor_.saw(12018));
    EXPECT_FALSE(monitor_.saw(12016));
    EXPECT_EQ(cli("select bundle_end_timestamp, is_realtime, retry_count from queue"),
              "1700000000.25|1|0\n");
    const auto gz = file("q.gz");
    cli("select writefile('" + gz.string() + "', data) from queue");
    const std::string text =
        sdktest::shellOutput("gzip -dc '" + gz.string() + "' | '" + CB_PROTOC + "' --decode_raw");
    EXPECT_NE(text.find("6: 1700000000250\n"), std::string::npos) << text;
    EXPECT_NE(text.find("14: \"1:1:ios:ab\"\n"), std::string::npos) << text;

    sdk::Error error;
    EXPECT_EQ(database_->containsRealtimeBundlesWithError(&error), true);
    EXPECT_EQ(database_->isQueuedBundleTableEmpty(&error), false);
    EXPECT_EQ(database_->queryLatestBundleTime(&error), 1700000000.25);

    // Outside the upload time span (28 days by default): stored with a warning.
    insert(*makeBundle(kNowMillis - 29LL * 86400 * 1000));
    EXPECT_TRUE(monitor_.saw(12016));
    EXPECT_EQ(cli("select count(*) from queue"), "2\n");
}

TEST_F(APMDatabaseQueueTest, IncompleteBundlesAreRefused) {
    auto noAppID = makeBundle(kNowMillis);
    APMPBSetString(noAppID.get(), apmpb::MeasurementBundle::kAppId, std::nullopt);
    APMPBMeasurementBundle empty;
    auto noTime = makeBundle(0);
    const struct {
        const APMPBMeasurementBundle* bundle;
        std::string error;
    } cases[] = {
        {&empty, "1 Failed to insert nil bundle"},
        {nullptr, "1 Failed to insert nil bundle"},
        {noAppID.get(), "1 Failed to insert bundle without App ID"},
        {noTime.get(), "1 Failed to insert bundle without valid timestamp"},
    };
    for (const auto& c : cases) {
        sdk::Error error;
        EXPECT_FALSE(database_->insertBundle(c.bundle, false, &error));
        EXPECT_EQ(codeAndMessage(error), c.error);
    }
    EXPECT_EQ(cli("select count(*) from queue"), "0\n");
}

TEST_F(APMDatabaseQueueTest, BatchesStayWithinTheSizeLimitButTakeTheFirstBundle) {
    for (int i = 0; i < 3; ++i) {
        insert(*makeBundle(kNowMillis, 40));
    }
    sdk::Error error;
    EXPECT_EQ(rowIDs(database_->queryBundlesWithCountLimit(10, 100, &error).value()),
              (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(rowIDs(database_->queryBundlesWithCountLimit(2, 1000, &error).value()),
              (std::vector<std::int64_t>{1, 2}));
    EXPECT_EQ(rowIDs(database_->queryBundlesWithCountLimit(10, 10, &error).value()),
              (std::vector<std::int64_t>{1}));
    EXPECT_EQ(rowIDs(database_->queryBundlesWithRowIDs({3, 1}, &error).value()),
              (std::vector<std::int64_t>{1, 3}));
}

TEST_F(APMDatabaseQueueTest, UnreadableRowsAreSkipped) {
    insert(*makeBundle(kNowMillis));
    insert(*makeBundle(kNowMillis + 1));
    cli("update queue set data = X'0102030405' where rowid = 1");
    sdk::Error error;
    const auto bundles = database_->queryBundlesWithCountLimit(10, 1000, &error).value();
    ASSERT_EQ(rowIDs(bundles), std::vector<std::int64_t>{2});
    EXPECT_EQ(APMPBGetInt64(bundles[0].first.get(), apmpb::MeasurementBundle::kEndTimestampMillis),
              kNowMillis + 1);
    EXPECT_EQ(cli("select count(*) from queue"), "2\n") << "the bad row stays";
}

TEST_F(APMDatabaseQueueTest, RetryCountGrowsUpToTheLimit) {
    insert(*makeBundle(kNowMillis));
    insert(*makeBundle(kNowMillis));
    const auto bundleText = [&](std::int64_t rowID) {
        sdk::Error error;
        const auto bundles = database_->queryBundlesWithRowIDs({rowID}, &error).value();
        const auto bin = file("b.bin");
        sdktest::writeFile(bin, [&] {
            const sdk::Bytes bytes = bundles.at(0).first->protoBuffer().value();
            return std::string(bytes.begin(), bytes.end());
        }());
        return sdktest::protocDecode(bin, "apmpb.MeasurementBundle");
    };
    EXPECT_EQ(bundleText(1).find("retry_count"), std::string::npos);

    sdk::Error error;
    ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs({1}, &error))
        << codeAndMessage(error);
    EXPECT_NE(bundleText(1).find("retry_count: 1\n"), std::string::npos) << bundleText(1);
    EXPECT_FALSE(monitor_.saw(12054));

    cli("update queue set retry_count = 2147483647 where rowid = 2");
    ASSERT_TRUE(database_->incrementRetryCounterForBundlesWithIDs({1, 2}, &error));
    EXPECT_TRUE(monitor_.saw(12054));
    EXPECT_EQ(cli("select group_concat(retry_count) from queue"), "2,2147483647\n");
    EXPECT_NE(bundleText(2).find("retry_count: 2147483647\n"), std::string::npos);

    // A count beyond the field's range, written by another program, is clamped.
    cli("update queue set retry_count = 9999999999 where rowid = 2");
    EXPECT_NE(bundleText(2).find("retry_count: 2147483647\n"), std::string::npos);

    EXPECT_FALSE(database_->incrementRetryCounterForBundlesWithIDs({}, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Failed to increment retry counter");
}

TEST_F(APMDatabaseQueueTest, DeletingNeedsRowIDs) {
    insert(*makeBundle(kNowMillis));
    insert(*makeBundle(kNowMillis));
    sdk::Error error;
    EXPECT_FALSE(database_->deleteBundlesWithRowIDs({}, &error));
    EXPECT_EQ(codeAndMessage(error), "3 Received empty row IDs to process");
    EXPECT_EQ(cli("select count(*) from queue"), "2\n");
    EXPECT_TRUE(database_->deleteBundlesWithRowIDs({2}, &error));
    EXPECT_EQ(cli("select group_concat(rowid) from queue"), "1\n");
}

TEST_F(APMDatabaseQueueTest, StaleDataIsCleanedOncePerInterval) {
    // Stale bundles: older or further in the future than the maximum queue time.
    insert(*makeBundle(kNowMillis));
    cli("insert into queue (data, bundle_end_timestamp, retry_count) values "
        "(X'00', 1000, 0), (X'00', 9999999999, 0)");
    const APMEvent old = sdktest::makeEvent("old", 1000);
    ASSERT_TRUE(database_->insertRawEvent(&old, 1, false, nullptr));
    const double cleaned = config_->lastDeleteStaleBundlesTimestamp();
    EXPECT_EQ(cleaned, kNow) << "the first insertion cleaned";
    // That first clean-up ran before the rows above were written; the next is due a day later.
    TEST_APMSetCurrentTimeInterval(kNow + 3600);
    sdk::Error error;
    EXPECT_EQ(database_->maybeDeleteStaleData(&error), false);
    EXPECT_EQ(cli("select count(*) from queue"), "3\n");

    TEST_APMSetCurrentTimeInterval(kNow + 86401);
    EXPECT_EQ(database_->maybeDeleteStaleData(&error), true);
    EXPECT_EQ(config_->lastDeleteStaleBundlesTimestamp(), kNow + 86401);
    EXPECT_EQ(cli("select group_concat(rowid) from queue"), "1\n");
    EXPECT_EQ(cli("select count(*) from raw_events"), "0\n");
    EXPECT_EQ(database_->maybeDeleteStaleData(&error), false);
    EXPECT_EQ(config_->lastDeleteStaleBundlesTimestamp(), kNow + 86401);

    EXPECT_FALSE(database_->deleteStaleBundlesOlderThanMaxAge(-1, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Cannot delete stale bundles after negative time period");
}

}  // namespace
