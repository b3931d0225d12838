#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/preferences/PreferencesStore.h"
#include "sdk/analytics/REROdazadeve.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRawEventData.h"
#include "sdk/utilities/ValuePlist.h"
#include "tests/sdk/core/CoreTestSupport.h"
#include "tests/sdk/core/OptionsFixture.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/core/APMAnalyticsTesting.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"

namespace sdktest {

// A fixture with the analytics classes registered and a main bundle with a valid options list
// (configure() would succeed); the core's apps are reset before and after each test. The user's
// folders are temporary ones (CoreTestSupport.h). The facade and the engine are made once per
// process, and ctest runs each test case in a process of its own.
class ConfiguredAnalyticsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ZEDOre::resetApps();
        REROdazadeve::registerClasses();
        options_.use();
        options_.writeOptions({{"VOVIDU_APP_ID", kValidAppID}});
    }
    void TearDown() override {
        if (APMAnalytics::isStarted()) {
            settle();
        }
        ZEDOre::resetApps();
        platform::Bundle::TEST_setMainBundle(std::nullopt);
        VIZUveziza::resetDefaultOptions();
    }

    // Waits until the facade's queued work, the engine's worker queue and the listener
    // notifications that follow have all run. REQUIRES: started.
    static void settle() {
        for (int round = 0; round < 2; ++round) {
            TEST_APMAnalyticsWaitForQueuedWork();
            if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
                APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine, [] {});
            }
        }
        TEST_APMAnalyticsWaitForQueuedWork();
    }

    // The stored raw events, oldest first. REQUIRES: started.
    static std::vector<APMRawEventData> rawEvents() {
        settle();
        std::vector<APMRawEventData> events;
        std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
        APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine, [&] {
            if (engine->database()) {
                sdk::Error error;
                events = engine->database()->allRawEventsWithError(&error).value_or(events);
            }
        });
        return events;
    }

    // The stored raw event named `name`, the last of them; none when there is none.
    static std::optional<APMEvent> storedEvent(std::string_view name) {
        std::optional<APMEvent> found;
        for (const APMRawEventData& data : rawEvents()) {
            if (data.rawEvent().name() == name) {
                found = data.rawEvent();
            }
        }
        return found;
    }

    // The engine's user properties with the internal ones, read through the facade.
    static sdk::Value::Dictionary userProperties() {
        std::promise<sdk::Value::Dictionary> answer;
        REROdazadeve::userPropertiesIncludingInternal(
            true, platform::DispatchQueue::global(),
            [&](sdk::Value::Dictionary properties) { answer.set_value(std::move(properties)); });
        return answer.get_future().get();
    }

    // The analytics suite's file as written, read back as a dictionary.
    static sdk::Value::Dictionary analyticsSuiteFile() {
        std::ifstream in(
            platform::PreferencesStore::defaultFolder() / "APMAnalyticsSuiteName.plist",
            std::ios::binary);
        const sdk::Bytes bytes{std::istreambuf_iterator<char>(in), {}};
        sdk::Value value;
        if (bytes.empty() || !sdk::valueFromPlist(bytes, &value).ok() || !value.dictionary()) {
            return {};
        }
        return *value.dictionary();
    }

    std::int64_t countOf(std::int64_t code) const {
        const std::vector<std::int64_t> codes = monitor_.codes();
        return std::count(codes.begin(), codes.end(), code);
    }

    OptionsFixture options_;
    MonitorRecorder monitor_;
};

}  // namespace sdktest
