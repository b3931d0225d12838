#include "sdk/measurement/storage/APMPersistedConfig.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <thread>

#include "platform/preferences/PlistCodec.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/utilities/VDUUserDefaults.h"
#include "sdk/utilities/ValuePlist.h"
#include "tests/sdk/measurement/storage/PersistenceTestSupport.h"

namespace {

namespace fs = std::filesystem;
using sdk::Value;

constexpr const char* kSuite = "com.example.measurement";

class APMPersistedConfigTest : public sdktest::MeasurementHomeTest {
  protected:
    std::shared_ptr<APMPersistedConfig> open() {
        return APMPersistedConfig::initWithSuiteName(kSuite, fileSystem_);
    }
    fs::path plist() const { return measurementFolder() / (std::string(kSuite) + ".plist"); }

    sdktest::CountingFileSystem& fileSystem_ = sdktest::freshCountingFileSystem();
};

TEST_F(APMPersistedConfigTest, OlderPlistInThePreferencesFolderIsMovedAndRead) {
    sdk::Bytes bytes;
    ASSERT_TRUE(
        sdk::plistFromValue(Value(Value::Dictionary{
                                {std::string(APMPersistedConfig::kAppInstanceID), "instance-1"}}),
                            sdk::PlistFormat::kXml, &bytes)
            .ok());
    const fs::path old = preferencesFolder() / (std::string(kSuite) + ".plist");
    sdktest::writeFile(old, std::string(bytes.begin(), bytes.end()));

    auto config = open();
    ASSERT_TRUE(config);
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(plist()));
    EXPECT_EQ(config->appInstanceID(), "instance-1");
}

TEST_F(APMPersistedConfigTest, NewerFileWinsOverAnOlderCopy) {
    {
        auto config = open();
        config->setAppInstanceID("current");
    }
    const fs::path old = preferencesFolder() / (std::string(kSuite) + ".plist");
    sdktest::writeFile(old, "stale");
    auto config = open();
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(config->appInstanceID(), "current");
}

TEST_F(APMPersistedConfigTest, TypedPropertiesReadOnlyTheirKind) {
    auto config = open();
    config->userDefaults()->setObject(Value("7"), APMPersistedConfig::kSessionNumber);
    EXPECT_EQ(config->sessionNumber(), 0);
    config->setSessionNumber(8);
    EXPECT_EQ(config->sessionNumber(), 8);

    // Stored as given: the engine keeps a decimal string here.
    config->setPreviousFirstOpenCount(Value("12"));
    EXPECT_EQ(config->previousFirstOpenCount(), Value("12"));

    config->setSearchAdCampaignValue(Value("yes"));
    EXPECT_EQ(config->searchAdCampaignValue(), std::nullopt);
    config->setSearchAdCampaignValue(Value(1));
    EXPECT_EQ(config->searchAdCampaignValue(), Value(1));

    config->setShouldSetLastAdvertisingIDResetUserProperty(true);
    EXPECT_EQ(config->userDefaults()->objectForKey(APMPersistedConfig::kSetLastAdvertisingIDReset),
              Value(1));
    EXPECT_TRUE(config->shouldSetLastAdvertisingIDResetUserProperty());

    config->setDefaultEventParameters(Value::Dictionary{{"bad", nullptr}});
    EXPECT_EQ(config->defaultEventParameters(), std::nullopt);
    config->setDefaultEventParameters(Value::Dictionary{{"distribution", "direct"}});
    EXPECT_EQ(config->defaultEventParameters(), (Value::Dictionary{{"distribution", "direct"}}));
    EXPECT_EQ(config->int64ForKey(""), 0);
}

TEST_F(APMPersistedConfigTest, MidnightOffsetIsDrawnOnceInWholeMillisecondsAndKept) {
    double offset = 0;
    {
        auto config = open();
        offset = config->midnightOffset();
        EXPECT_GE(offset, 0.0);
        EXPECT_LT(offset, 86400.0);
        // A whole number of milliseconds in seconds: k / 1000.0 for some k (offset * 1000.0 need
        // not be exactly k in binary floating point).
        EXPECT_EQ(std::round(offset * 1000.0) / 1000.0, offset);
        EXPECT_EQ(config->midnightOffset(), offset);
    }
    EXPECT_EQ(open()->midnightOffset(), offset);
}

TEST_F(APMPersistedConfigTest, StoredNumbersOutsideTheirRangeCountAsAbsent) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    // Written straight into the file, as a damaged or foreign file would hold them.
    auto storeInFile = [&](std::string_view key, const Value& value) {
        sdk::Bytes bytes;
        ASSERT_TRUE(sdk::plistFromValue(Value(Value::Dictionary{{std::string(key), value}}),
                                        sdk::PlistFormat::kBinary, &bytes)
                        .ok());
        sdktest::writeFile(plist(), std::string(bytes.begin(), bytes.end()));
    };
    for (double stored : {nan, 1e308, kInf, -kInf, -0.5, 86400.0, 1e9}) {
        SCOPED_TRACE(stored);
        storeInFile(APMPersistedConfig::kMidnightOffset, Value(stored));
        auto config = open();
        const double offset = config->midnightOffset();
        EXPECT_GE(offset, 0.0);
        EXPECT_LT(offset, 86400.0);
        // Drawn again and kept in place of the damaged value.
        EXPECT_EQ(config->userDefaults()->objectForKey(APMPersistedConfig::kMidnightOffset),
                  Value(offset));
    }
    for (const Value& kept : {Value(0.0), Value(86399.999), Value(std::int64_t{3600})}) {
        storeInFile(APMPersistedConfig::kMidnightOffset, kept);
        EXPECT_EQ(open()->midnightOffset(), kept.numberAsDouble());
    }

    for (double stored : {kInf, -kInf, nan, 1e300, -1e300, 9223372036854775808.0}) {
        SCOPED_TRACE(stored);
        storeInFile(APMPersistedConfig::kSessionNumber, Value(stored));
        EXPECT_EQ(open()->sessionNumber(), 0);
    }
    storeInFile(APMPersistedConfig::kSessionNumber, Value(41.0));
    EXPECT_EQ(open()->sessionNumber(), 41);
    storeInFile(APMPersistedConfig::kSessionNumber, Value(-9223372036854775807.0 - 1.0));
    EXPECT_EQ(open()->sessionNumber(), std::numeric_limits<std::int64_t>::min());
}

TEST_F(APMPersistedConfigTest, EightFirstCallersAtOnceGetOneMidnightOffset) {
    auto config = open();
    std::vector<double> offsets(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        threads.emplace_back([&, i] { offsets[i] = config->midnightOffset(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::set<double>(offsets.begin(), offsets.end()).size(), 1u);
    EXPECT_EQ(config->midnightOffset(), offsets[0]);
}

TEST_F(APMPersistedConfigTest, OffsetsSpreadOverTheDay) {
    // Eight fresh installations: a draw stuck at one value (or in one hour) would show.
    std::set<int> hours;
    for (int i = 0; i < 8; ++i) {
        auto config = open();
        config->clearValues();
        hours.insert(static_cast<int>(config->midnightOffset() / 3600));
    }
    EXPECT_GT(hours.size(), 1u);
}

TEST_F(APMPersistedConfigTest, MeasurementEnabledStateLivesInTheStandardDefaultsAndSurvivesClear) {
    auto config = open();
    config->setAppInstanceID("instance");
    config->setMeasurementEnabledState(2);
    config->clearValues();
    EXPECT_EQ(config->appInstanceID(), std::nullopt);
    EXPECT_EQ(config->measurementEnabledState(), 2);
    // The core's own defaults see it, and it is in the standard suite's file. (The shared
    // defaults are opened once per process, in the folder of whoever used them first: the
    // engine's monitor, before this test, reads its switches there.)
    EXPECT_EQ(VDUUserDefaults::standardUserDefaults().objectForKey(
                  APMPersistedConfig::kMeasurementEnabledState),
              Value(2));
    const fs::path file = APMUserDefaults::sharedUserDefaults().store()->path();
    EXPECT_EQ(file, VDUUserDefaults::standardUserDefaults().userDefaults()->path());
    std::ifstream in(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    const std::optional<platform::PlistValue> root = platform::decodePlist(bytes);
    const auto* dictionary = root ? root->getIf<platform::PlistDictionary>() : nullptr;
    ASSERT_NE(dictionary, nullptr);
    EXPECT_EQ(dictionary->at(std::string(APMPersistedConfig::kMeasurementEnabledState)),
              platform::PlistValue(2));
}

TEST_F(APMPersistedConfigTest, WritesFromManyThreadsAllReachTheFile) {
    {
        auto config = open();
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 40; ++i) {
                    config->setInt64(i, "/test/" + std::to_string(t));
                    (void)config->sessionNumber();
                    config->scheduleSynchronizeToDisk();
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    auto config = open();
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(config->int64ForKey("/test/" + std::to_string(t)), 39);
    }
}

TEST_F(APMPersistedConfigTest, NoDictionaryMeansZeroesAndDroppedWrites) {
    sdktest::writeFile(dir_ / "data", "not a folder");
    auto config = open();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->userDefaults(), nullptr);
    config->setSessionNumber(3);
    EXPECT_EQ(config->sessionNumber(), 0);
    EXPECT_EQ(config->appInstanceID(), std::nullopt);
    EXPECT_EQ(config->midnightOffset(), 0.0);
    EXPECT_EQ(APMPersistedConfig::initWithSuiteName(""), nullptr);
}

}  // namespace
