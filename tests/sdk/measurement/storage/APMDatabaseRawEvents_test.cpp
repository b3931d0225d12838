// Raw events and their metadata: rows as other readers see them, reading back, and the limits.
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/storage/RecordTestSupport.h"

namespace {

using sdktest::codeAndMessage;
using sdktest::makeEvent;
using sdktest::makeMetadata;

std::shared_ptr<APMPBEventParam> param(const std::string& name) {
    auto p = std::make_shared<APMPBEventParam>();
    APMPBSetString(p.get(), apmpb::EventParam::kName, name);
    return p;
}

// An Event message of `params` as an SQL blob literal.
std::string eventBlob(const APMPBRepeatedArray& params) {
    APMPBEvent event;
    APMPBSetRepeated(&event, apmpb::Event::kParams, params);
    return sdktest::blobLiteral(event.protoBuffer().value());
}

std::shared_ptr<APMPBEventParam> originParam() {
    auto origin = param("_o");
    APMPBSetString(origin.get(), apmpb::EventParam::kStringValue, "app");
    return origin;
}

class APMDatabaseRawEventsTest : public sdktest::RecordTest {
  protected:
    void insert(const APMEvent& event, std::int64_t fingerprint, bool realtime = false) {
        sdk::Error error;
        ASSERT_TRUE(database_->insertRawEvent(&event, fingerprint, realtime, &error))
            << codeAndMessage(error);
    }
    std::vector<std::string> namesOf(const std::vector<APMRawEventData>& events) {
        std::vector<std::string> names;
        for (const APMRawEventData& e : events) {
            names.push_back(e.rawEvent().name() + "@" + std::to_string(e.rowID()));
        }
        return names;
    }
};

TEST_F(APMDatabaseRawEventsTest, MetadataIsStoredOnceUnderTheMD5OfItsEncoding) {
    auto metadata = makeMetadata("1:1:ios:ab");
    sdk::Error error;
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata.get(), &error))
        << codeAndMessage(error);
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(metadata.get(), &error));
    EXPECT_EQ(cli("select count(*) from raw_events_metadata"), "1\n");

    const auto blob = file("m.bin");
    cli("select writefile('" + blob.string() + "', metadata) from raw_events_metadata");
    EXPECT_EQ(sdktest::protocDecode(blob), "1: 1\n14: \"1:1:ios:ab\"\n");
    const std::string md5 =
        sdktest::shellOutput("openssl md5 -r '" + blob.string() + "' | cut -c17-32");
    EXPECT_EQ(md5, cli("select printf('%016x', metadata_fingerprint) from raw_events_metadata"));

    const std::int64_t fingerprint = apm_64LSBMD5(*metadata->protoBuffer());
    auto read = database_->queryRawEventsMetadataWithFingerprint(fingerprint, &error);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->protoBuffer(), metadata->protoBuffer());
    EXPECT_FALSE(database_->queryRawEventsMetadataWithFingerprint(fingerprint + 1, &error));

    APMPBMeasurementBundle empty;
    EXPECT_FALSE(database_->insertIfNotExistsRawEventMetadata(&empty, &error));
    EXPECT_EQ(codeAndMessage(error),
              "3 Received empty measurement bundle metadata for getting dictionary representation");
}

TEST_F(APMDatabaseRawEventsTest, EventRowsKeepTheNameOutOfTheBlobAndReadBackWhole) {
    const sdk::Value item(
        sdk::Value::Dictionary{{"item_id", sdk::Value("sku")}, {"quantity", sdk::Value(2)}});
    const APMEvent event = makeEvent("purchase", 1700000000.25,
                                     {{"s", sdk::Value("v")},
                                      {"d", sdk::Value(0.5)},
                                      {"items", sdk::Value(sdk::Value::Array{item, item})},
                                      {"_r", sdk::Value(1)}});
    insert(event, 42, true);
    EXPECT_EQ(cli("select name, timestamp, metadata_fingerprint, is_realtime from raw_events"),
              "purchase|1700000000.25|42|1\n");

    const auto blob = file("e.bin");
    cli("select writefile('" + blob.string() + "', data) from raw_events");
    const std::string text = sdktest::protocDecode(blob, "apmpb.Event");
    EXPECT_EQ(text.find("name: \"purchase\""), std::string::npos) << text;
    EXPECT_NE(text.find("name: \"_o\"\n  string_value: \"app\""), std::string::npos) << text;
    EXPECT_NE(text.find("timestamp_millis: 1700000000250"), std::string::npos) << text;
    EXPECT_NE(text.find("string_value: \"sku\""), std::string::npos) << "items kept: " << text;

    sdk::Error error;
    auto events = database_->rawEventsWithMetadataFingerprint(42, &error, {});
    ASSERT_TRUE(events) << codeAndMessage(error);
    ASSERT_EQ(events->size(), 1u);
    const APMRawEventData& back = events->front();
    EXPECT_EQ(back.rowID(), 1);
    EXPECT_EQ(back.metadataFingerprint(), 42);
    EXPECT_EQ(back.rawEvent().name(), "purchase");
    EXPECT_EQ(back.rawEvent().timestamp(), 1700000000.25);
    EXPECT_EQ(back.rawEvent().protoEvent().protoBuffer(), event.protoEvent().protoBuffer());
    EXPECT_EQ(database_->containsRealtimeRawEventsWithError(&error), true);
    EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(42, &error), true);
    EXPECT_EQ(database_->containsRawEventWithMetadataFingerprint(43, &error), false);
    EXPECT_EQ(database_->queryLatestRawEventTime(&error), 1700000000.25);

    // Rewriting the row by its row ID.
    const APMEvent renamed = makeEvent("refund", 5);
    auto update = APMRawEventData::initWithRawEvent(&renamed, 1, 7);
    ASSERT_TRUE(database_->updateRawEvent(&*update, &error)) << codeAndMessage(error);
    EXPECT_EQ(cli("select name, timestamp, metadata_fingerprint, is_realtime from raw_events"),
              "refund|5.0|7|0\n");
}

TEST_F(APMDatabaseRawEventsTest, UnreadableRowsAreSkippedAndStay) {
    for (const char* name : {"a", "b", "c", "d"}) {
        insert(makeEvent(name, 1), 9);
    }
    auto floatOnly = param("f");
    APMPBSetFloat(floatOnly.get(), apmpb::EventParam::kFloatValue, 1.5f);
    auto numericOrigin = param("_o");
    APMPBSetInt64(numericOrigin.get(), apmpb::EventParam::kIntValue, 3);
    auto plain = param("x");
    APMPBSetString(plain.get(), apmpb::EventParam::kStringValue, "y");
    cli("update raw_events set data = " + eventBlob({plain}) + " where rowid = 1");
    cli("update raw_events set data = " + eventBlob({originParam(), floatOnly}) +
        " where rowid = 2");
    cli("update raw_events set data = X'FFFF' where rowid = 3");

    sdk::Error error;
    auto events = database_->rawEventsWithMetadataFingerprint(9, &error, {});
    ASSERT_TRUE(events) << codeAndMessage(error);
    EXPECT_EQ(namesOf(*events), std::vector<std::string>{"d@4"});
    EXPECT_EQ(cli("select count(*) from raw_events"), "4\n");

    // Each row on its own says why.
    const std::pair<std::int64_t, std::string> reasons[] = {
        {1, "2 Cannot create an event from database. Missing origin parameter"},
        {2, "2 Failed to parse event params data"},
        {3, "3 Failed to parse event from data"},
    };
    for (const auto& [rowID, reason] : reasons) {
        const APMSqliteRecord record =
            database_->sqliteStore()
                ->recordsForQuery("SELECT rowid, * FROM raw_events WHERE rowid = ?", {rowID},
                                  &error)
                ->front();
        sdk::Error rowError;
        EXPECT_FALSE(database_->rawEventDataFromDictionary(&record, &rowError));
        EXPECT_EQ(codeAndMessage(rowError), reason) << rowID;
    }
    cli("update raw_events set data = " + eventBlob({numericOrigin}) + " where rowid = 4");
    events = database_->rawEventsWithMetadataFingerprint(9, &error, {});
    EXPECT_FALSE(events) << "rows but none readable";
    EXPECT_EQ(codeAndMessage(error),
              "2 Cannot create an event from database. Origin parameter is not a string");

    // A row ID that is not an integer is as unreadable as a missing one.
    APMSqliteRecord record = {
        {"rowid", "1"}, {"data", sdk::Value(sdk::Bytes{})}, {"metadata_fingerprint", 9}};
    sdk::Error rowError;
    EXPECT_FALSE(database_->rawEventDataFromDictionary(&record, &rowError));
    EXPECT_EQ(codeAndMessage(rowError), "1 Unable to find row ID in the database dictionary");
}

TEST_F(APMDatabaseRawEventsTest, AbsoluteLimitKeepsRoomForOneMore) {
    installSettings({{"measurement.store.max_stored_events_per_app", "3"}});
    for (int i = 0; i < 5; ++i) {
        insert(makeEvent("e" + std::to_string(i), 1), 1);
    }
    sdk::Error error;
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), 3);
    EXPECT_EQ(cli("select group_concat(rowid) from raw_events"), "4,5\n");
    EXPECT_EQ(namesOf(database_->allRawEventsWithError(&error).value()),
              (std::vector<std::string>{"e3@4", "e4@5"}));
    const auto firstOnly = [](std::size_t index, const APMSqliteRecord&) { return index < 1; };
    EXPECT_EQ(namesOf(database_->rawEventsWithMetadataFingerprint(1, &error, firstOnly).value()),
              std::vector<std::string>{"e3@4"});

    // Within the limit nothing goes, with or without gaps between the row IDs; over it (the
    // three rows of a span of seven), the oldest does.
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), 0);
    insert(makeEvent("e5", 1), 1);
    cli("delete from raw_events where rowid = 5");
    cli("insert into raw_events (rowid, name, timestamp, metadata_fingerprint, data) "
        "select 10, name, timestamp, metadata_fingerprint, data from raw_events where rowid = 4");
    EXPECT_EQ(cli("select group_concat(rowid) from raw_events"), "4,6,10\n");
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), 1);
    EXPECT_EQ(cli("select group_concat(rowid) from raw_events"), "6,10\n");
    EXPECT_EQ(database_->deleteRawEventsOverAbsoluteLimit(&error), 0);
}

TEST_F(APMDatabaseRawEventsTest, AgeLimitDeletesOldAndFutureRowsThenUnusedMetadata) {
    TEST_APMSetCurrentTimeInterval(10000);
    auto keptMetadata = makeMetadata("kept");
    auto goneMetadata = makeMetadata("gone");
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(keptMetadata.get(), nullptr));
    ASSERT_TRUE(database_->insertIfNotExistsRawEventMetadata(goneMetadata.get(), nullptr));
    const std::int64_t kept = apm_64LSBMD5(*keptMetadata->protoBuffer());
    const std::int64_t gone = apm_64LSBMD5(*goneMetadata->protoBuffer());
    insert(makeEvent("old", 9000), gone);
    insert(makeEvent("recent", 9950), kept);
    insert(makeEvent("future", 11000), kept);

    sdk::Error error;
    EXPECT_EQ(database_->nextMetadataFingerprintToProcess(&error), gone);
    ASSERT_TRUE(database_->deleteStaleRawEventsDataOlderThanMaxAge(100, &error))
        << codeAndMessage(error);
    EXPECT_EQ(cli("select name from raw_events"), "recent\n");
    EXPECT_EQ(cli("select metadata_fingerprint from raw_events_metadata"),
              std::to_string(kept) + "\n");
    EXPECT_EQ(database_->nextMetadataFingerprintToProcess(&error), kept);

    EXPECT_FALSE(database_->deleteStaleRawEventsDataOlderThanMaxAge(-1, &error));
    EXPECT_EQ(codeAndMessage(error), "1 Cannot delete stale raw events given negative time period");

    ASSERT_TRUE(database_->deleteRawEventsWithMaxRowID(2, &error));
    EXPECT_EQ(database_->isRawEventsTableEmpty(&error), true);
    sdk::Error emptyError;
    EXPECT_EQ(database_->nextMetadataFingerprintToProcess(&emptyError), std::nullopt);
    EXPECT_TRUE(emptyError.ok()) << codeAndMessage(emptyError);
    EXPECT_EQ(database_->queryLatestRawEventTime(&emptyError), std::nullopt);
    EXPECT_TRUE(emptyError.ok());
}

// One table of EventParam messages and what they read as.
TEST(APMDatabaseEventParams, ConvertOrFailWithCodes) {
    auto text = param("s");
    APMPBSetString(text.get(), apmpb::EventParam::kStringValue, "v");
    auto integer = param("i");
    APMPBSetInt64(integer.get(), apmpb::EventParam::kIntValue, -4);
    auto real = param("d");
    APMPBSetDouble(real.get(), apmpb::EventParam::kDoubleValue, 2.5);
    auto array = param("items");
    APMPBRepeatedArray elements;
    for (int i = 0; i < 3; ++i) {
        auto element = std::make_shared<APMPBEventParam>();
        auto id = param("id");
        APMPBSetInt64(id.get(), apmpb::EventParam::kIntValue, i);
        APMPBSetRepeated(element.get(), apmpb::EventParam::kParamValue, APMPBRepeatedArray{id});
        elements.emplace_back(element);
    }
    APMPBSetRepeated(array.get(), apmpb::EventParam::kParamValue, elements);
    auto unnamed = std::make_shared<APMPBEventParam>();
    APMPBSetInt64(unnamed.get(), apmpb::EventParam::kIntValue, 1);
    auto floatOnly = param("f");
    APMPBSetFloat(floatOnly.get(), apmpb::EventParam::kFloatValue, 1.5f);

    sdk::Value::Array items;
    for (int i = 0; i < 3; ++i) {
        items.emplace_back(sdk::Value::Dictionary{{"id", sdk::Value(i)}});
    }
    const struct {
        const NANOMessageBase* param;
        std::optional<APMValue> value;
        std::string error;
    } cases[] = {
        {text.get(), APMValue("v"), "OK"},
        {integer.get(), APMValue(std::int64_t{-4}), "OK"},
        {real.get(), APMValue(2.5), "OK"},
        {array.get(), APMValue(items), "OK"},
        {nullptr, std::nullopt, "1 Failed to parse empty event params data"},
        {unnamed.get(), std::nullopt, "1 Event parameter name is empty"},
        {floatOnly.get(), std::nullopt, "2 Failed to parse invalid event params data"},
    };
    for (const auto& c : cases) {
        sdk::Error error;
        auto entry = APMDatabase::eventParamFromProto(c.param, true, &error);
        EXPECT_EQ(codeAndMessage(error), c.error);
        EXPECT_EQ(entry ? std::optional<APMValue>(entry->second) : std::nullopt, c.value);
        if (entry) {
            EXPECT_EQ(entry->first,
                      APMPBGetString(c.param, apmpb::EventParam::kName).value_or("?"));
        }
    }
    EXPECT_TRUE(APMDatabase::eventParamFromProto(unnamed.get(), false, nullptr))
        << "inside an array a parameter may be unnamed";
}

}  // namespace
