// The write step: raw-event rows and their metadata as the sqlite3 shell, OpenSSL and protoc
// see them, and the daily limits of a stored configuration.
#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace {

using sdktest::EngineTest;

class EventWritingTest : public EngineTest {
  protected:
    void SetUp() override { ASSERT_TRUE(startEngine(kAppID)); }

    // The 64 low bits of OpenSSL's MD5 of `bytes`, as a signed number (big-endian).
    static std::int64_t md5LowBits(const std::string& bytes) {
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int length = 0;
        EXPECT_EQ(
            EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr), 1);
        std::uint64_t bits = 0;
        for (unsigned int i = 8; i < 16; ++i) {
            bits = bits << 8 | digest[i];
        }
        return static_cast<std::int64_t>(bits);
    }

    std::int64_t dailyEventsCount() {
        return std::stoll(sqlite("SELECT daily_events_count FROM app_metadata;"));
    }

    static APMRawParameters threeItems() {
        sdk::Value::Array items;
        for (const char* id : {"a", "b", "c"}) {
            items.push_back(sdk::Value::Dictionary{{"item_id", sdk::Value(id)}});
        }
        return {{"items", sdk::Value(items)}};
    }
};

TEST_F(EventWritingTest, RowFingerprintIsTheLowMD5BitsOfItsMetadataBlob) {
    logEvent("scan_started");
    logEvent("scan_completed");
    EXPECT_EQ(sqlite("SELECT count(*) FROM raw_events;"), "2\n");
    // Equal user properties and consent: one metadata row for both events.
    ASSERT_EQ(sqlite("SELECT count(*) FROM raw_events_metadata;"), "1\n");
    const std::string blob = fromHex(sqlite("SELECT hex(metadata) FROM raw_events_metadata;"));
    const std::string fingerprints =
        sqlite("SELECT DISTINCT metadata_fingerprint FROM raw_events;");
    EXPECT_EQ(fingerprints, std::to_string(md5LowBits(blob)) + "\n");
    EXPECT_EQ(sqlite("SELECT metadata_fingerprint FROM raw_events_metadata;"), fingerprints);

    // Tags 1, 8, 14, 17 and 52 by their schema names.
    const std::string text = protocDecode(blob, "apmpb.MeasurementBundle");
    EXPECT_TRUE(text.starts_with("protocol_version: 1\n")) << text;
    EXPECT_NE(text.find("\nplatform: \"macos\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\napp_id: \"com.example.fixture\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nvud_version: 111500\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nconsent_signals: \"G1--\"\n"), std::string::npos) << text;
}

TEST_F(EventWritingTest, OneMoreStoredUserPropertyGivesANewFingerprint) {
    logEvent("scan_started");
    sqlite(
        "INSERT INTO user_attributes (name, set_timestamp, value, origin) "
        "VALUES ('plan', 1700000000, 'gold', 'app');");
    logEvent("scan_completed");
    EXPECT_EQ(sqlite("SELECT count(*) FROM raw_events_metadata;"), "2\n");
    EXPECT_EQ(sqlite("SELECT count(DISTINCT metadata_fingerprint) FROM raw_events;"), "2\n");
    const std::string blob = fromHex(
        sqlite("SELECT hex(metadata) FROM raw_events_metadata WHERE metadata_fingerprint = "
               "(SELECT metadata_fingerprint FROM raw_events ORDER BY rowid DESC LIMIT 1);"));
    EXPECT_NE(protocDecode(blob, "apmpb.MeasurementBundle").find("name: \"plan\""),
              std::string::npos);
}

TEST_F(EventWritingTest, DailyEventLimitDropsAndLogsOncePerThousand) {
    storeConfig({{"measurement.upload.max_events_per_day", "2"}});
    for (int i = 0; i < 1003; ++i) {
        logEvent("scan_started");
    }
    EXPECT_EQ(sqlite("SELECT count(*) FROM raw_events;"), "2\n");
    // The 3rd and the 1003rd event log; those between do not.
    EXPECT_EQ(countOf(23055), 2);
}

TEST_F(EventWritingTest, ItemsCountInTheDailyCountAndADroppedEventTakesThemBack) {
    logEvent("purchase", threeItems());
    EXPECT_EQ(dailyEventsCount(), 4);
    storeConfig({{"measurement.upload.max_public_events_per_day", "0"}});
    logEvent("purchase", threeItems());
    EXPECT_EQ(dailyEventsCount(), 4);
    EXPECT_EQ(sqlite("SELECT count(*) FROM raw_events;"), "1\n");
}

TEST_F(EventWritingTest, EventNameCardinalityRefusesTheNextPublicName) {
    storeConfig({{"measurement.upload.max_event_name_cardinality", "500"}});
    for (int i = 0; i < 500; ++i) {
        logEvent("event_" + std::to_string(i));
    }
    EXPECT_FALSE(monitor_.saw(23065));
    logEvent("event_500");
    EXPECT_EQ(countOf(23065), 1);
    // Known names and internal names are not limited.
    logEvent("event_7");
    logEvent("_internal", {}, false);
    EXPECT_EQ(sqlite("SELECT count(*) FROM raw_events;"), "502\n");
    EXPECT_EQ(sqlite("SELECT count(*) FROM raw_events WHERE name = 'event_500';"), "0\n");
}

TEST_F(EventWritingTest, RefundIsStoredRealTimeAndOtherEventsAreNot) {
    logEvent("refund");
    logEvent("scan_started");
    EXPECT_EQ(sqlite("SELECT name, is_realtime FROM raw_events ORDER BY rowid;"),
              "refund|1\nscan_started|0\n");
}

TEST_F(EventWritingTest, DebugModeStoresEveryEventRealTimeAndDebug) {
    APMMeasurement::monitor().setDebugModeEnabled(true);
    logEvent("scan_started");
    logEvent("_internal", {}, false);
    APMMeasurement::monitor().setDebugModeEnabled(false);
    EXPECT_EQ(sqlite("SELECT is_realtime FROM raw_events;"), "1\n1\n");
    for (const APMRawEventData& data : rawEvents()) {
        EXPECT_TRUE(data.rawEvent().isDebug()) << data.rawEvent().name();
    }
    EXPECT_EQ(countOf(23073), 2);
}

TEST_F(EventWritingTest, BlocklistedEventIsRejectedAndOthersAreStored) {
    storeConfig({}, {"scan_started"});
    logEvent("scan_started");
    logEvent("scan_completed");
    EXPECT_EQ(countOf(23052), 1);
    EXPECT_EQ(sqlite("SELECT name FROM raw_events;"), "scan_completed\n");
}

}  // namespace
