#pragma once

#include <future>
#include <string>
#include <vector>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/measurement/engine/APMUptime.h"
#include "sdk/measurement/engine/core/APMScreenViewReporter.h"
#include "sdk/utilities/VDUNotificationCenter.h"
#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/APMUptimeTesting.h"
#include "tests/sdk/measurement/engine/core/APMScreenViewReporterTestPeer.h"

namespace sdktest {

// The app's activity driven as the app drives it: notifications posted on the default center
// from the main thread (the test's), then the facade and the engine settled. The engine's wall
// clock and the uptime clock are fixed, and moved by the tests.
class ActivityTest : public ConfiguredAnalyticsTest {
  protected:
    static constexpr double kStart = 1800000000.75;
    static constexpr double kUptime = 1000.0;

    void SetUp() override {
        ConfiguredAnalyticsTest::SetUp();
        TEST_APMSetCurrentTimeInterval(kStart);
        TEST_APMSetSystemUptime(kUptime);
    }
    void TearDown() override {
        ConfiguredAnalyticsTest::TearDown();
        TEST_APMSetCurrentTimeInterval(std::nullopt);
        TEST_APMSetSystemUptime(std::nullopt);
    }

    static void post(std::string_view name) {
        VDUNotificationCenter::defaultCenter().postNotificationName(std::string(name), nullptr);
        settleAll();
    }
    static void activate() { post(APMAppDidBecomeActiveNotificationName()); }
    static void resign() { post(APMAppWillResignActiveNotificationName()); }

    // The screen reporter's queue, then the facade and the engine.
    static void settleAll() {
        APMScreenViewReporterTestPeer::waitForQueue(*APMScreenViewReporter::sharedInstance());
        settle();
    }

    // The stored raw events named `name`, oldest first.
    static std::vector<APMEvent> events(std::string_view name) {
        settleAll();
        std::vector<APMEvent> found;
        for (const APMRawEventData& data : rawEvents()) {
            if (data.rawEvent().name() == name) {
                found.push_back(data.rawEvent());
            }
        }
        return found;
    }

    static std::optional<APMValue> parameter(const APMEvent& event, std::string_view name) {
        const auto it = event.parameters().find(name);
        return it == event.parameters().end() ? std::nullopt : std::optional(it->second);
    }
    static std::int64_t integer(const APMEvent& event, std::string_view name) {
        const std::optional<APMValue> value = parameter(event, name);
        return value && value->isInt64() ? value->int64Value() : -1;
    }
    static std::string text(const APMEvent& event, std::string_view name) {
        const std::optional<APMValue> value = parameter(event, name);
        return value && value->stringValue() ? *value->stringValue() : "";
    }
};

}  // namespace sdktest
