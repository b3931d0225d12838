#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/storage/DatabaseTestSupport.h"

namespace sdktest {

inline constexpr const char* kAppID = "1:1:ios:ab";

// Appends `element` to the repeated message field `fieldID` of `message`.
inline void appendElement(NANOMessageBase& message, std::int32_t fieldID,
                          std::shared_ptr<NANOMessageBase> element, APMPBWrapperFactory factory) {
    APMPBRepeatedArray elements =
        APMPBGetRepeated(&message, fieldID, factory).value_or(APMPBRepeatedArray{});
    elements.emplace_back(std::move(element));
    APMPBSetRepeated(&message, fieldID, elements);
}

// A configuration for `appID` with the given settings (name, value).
inline std::unique_ptr<APMPBMeasurementConfig> makeConfig(
    const std::string& appID,
    const std::vector<std::pair<std::string, std::string>>& settings = {}) {
    auto config = std::make_unique<APMPBMeasurementConfig>();
    APMPBSetString(config.get(), apmpb::MeasurementConfig::kAppId, appID);
    for (const auto& [name, value] : settings) {
        auto setting = std::make_shared<APMPBSetting>();
        APMPBSetString(setting.get(), apmpb::Setting::kName, name);
        APMPBSetString(setting.get(), apmpb::Setting::kValue, value);
        appendElement(*config, apmpb::MeasurementConfig::kSettings, setting,
                      &APMPBSetting::makeShared);
    }
    return config;
}

// Adds an event configuration; a negative `samplingRate` leaves the rate absent.
inline void addEventConfig(APMPBMeasurementConfig& config, const std::string& name,
                           bool blocklisted, std::int32_t samplingRate = -1) {
    auto eventConfig = std::make_shared<APMPBEventConfig>();
    APMPBSetString(eventConfig.get(), apmpb::EventConfig::kName, name);
    APMPBSetBool(eventConfig.get(), apmpb::EventConfig::kBlocklisted, blocklisted);
    if (samplingRate >= 0) {
        APMPBSetInt32(eventConfig.get(), apmpb::EventConfig::kSamplingRate,
                      static_cast<std::uint32_t>(samplingRate));
    }
    appendElement(config, apmpb::MeasurementConfig::kEventConfig, eventConfig,
                  &APMPBEventConfig::makeShared);
}

// The measurement database as a shared object (the remote configuration holds it weakly) and a
// remote configuration over it.
class RemoteConfigTest : public DatabaseTest {
  protected:
    void SetUp() override {
        sdk::Error error;
        database_ = openDatabase(&error);
        ASSERT_TRUE(database_) << error.ToString();
    }
    void TearDown() override { TEST_APMSetCurrentTimeInterval(std::nullopt); }

    std::shared_ptr<APMRemoteConfig> makeRemoteConfig(
        std::shared_ptr<APMEManager> manager = nullptr) {
        return APMRemoteConfig::initWithAppID(kAppID, database_, config_, std::move(manager),
                                              nullptr, eventEditingLoader_);
    }

    // A remote configuration that stored and parsed a configuration with `settings`.
    std::shared_ptr<APMRemoteConfig> configWithSettings(
        const std::vector<std::pair<std::string, std::string>>& settings) {
        auto remote = makeRemoteConfig();
        EXPECT_TRUE(remote->updateMeasurementConfig(makeConfig(kAppID, settings).get()));
        return remote;
    }

    std::shared_ptr<APMDatabase> database_;
    // Handed to every configuration made here; the program tests set the script runtime's.
    APMRemoteConfig::EventEditingLoader eventEditingLoader_;
};

}  // namespace sdktest
