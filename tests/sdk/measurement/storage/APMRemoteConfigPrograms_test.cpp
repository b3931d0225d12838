// The event-editing programs of a configuration: the first one loads into an editing instance
// with the configuration's modules, and that instance edits events.
#include "ProgramText.h"
#include "platform/bundle/Bundle.h"
#include "sdk/measurement/script/APMPConfigurationProgram.h"
#include "sdk/measurement/script/APMPEventEditing.h"
#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace {

using sdktest::appendElement;
using sdktest::kAppID;
using sdktest::makeConfig;

void addProgram(APMPBMeasurementConfig& config, std::string_view text) {
    std::shared_ptr<APMPBProgram> program = program_text::Program(text);
    ASSERT_TRUE(program) << text;
    appendElement(config, apmpb::MeasurementConfig::kDynamicEventEditing, program,
                  &APMPBProgram::makeShared);
}

void addDataControl(APMPBMeasurementConfig& config, const std::string& name) {
    auto control = std::make_shared<APMPBDataControl>();
    APMPBSetString(control.get(), apmpb::DataControl::kName, name);
    appendElement(config, apmpb::MeasurementConfig::kDataControls, control,
                  &APMPBDataControl::makeShared);
}

// Copies the configuration's setting "measurement.custom" and the app metadata into every
// event and logs through the script logger.
constexpr std::string_view kModulesProgram =
    R"(52("reg", require("internal.registerCallback")) 52("rc", require("internal.remoteConfig")))"
    R"( 52("md", require("internal.appMetadata")) 52("lg", require("internal.logger")))"
    R"( reg("x", 51("f", 7("e"),)"
    R"( 2(15("e"), "setParamValue", 7("c", 2(15("rc"), "getValue", 7("measurement.custom", 0)))),)"
    R"( 2(15("e"), "setParamValue", 7("n", 2(15("rc"), "getValue", 7("measurement.psm_signin_delay", 0)))),)"
    R"( 55("k", md(), 46(2(15("e"), "setParamValue", 7(15("k"), 16(md(), 15("k")))))),)"
    R"( 2(15("lg"), "log", 7(6, "edited")), 36(1)), 8("type", "edit")))";

// A top-level return: this program cannot load.
constexpr std::string_view kUnloadableProgram = "36(1)";

class APMRemoteConfigProgramsTest : public sdktest::RemoteConfigTest {
  protected:
    APMRemoteConfigProgramsTest() { eventEditingLoader_ = APMPLoadConfigurationProgram; }
};

TEST_F(APMRemoteConfigProgramsTest, TheFirstProgramEditsEventsThroughTheModules) {
    auto config = makeConfig(
        kAppID, {{"measurement.psm_signin_delay", "60"}, {"measurement.custom", "text"}});
    addProgram(*config, kModulesProgram);
    addProgram(*config, kUnloadableProgram);  // never loaded, so never failing
    auto remote = makeRemoteConfig();
    ASSERT_TRUE(remote->updateMeasurementConfig(config.get()));
    EXPECT_FALSE(monitor_.saw(29026));
    bool sawLoad = false;
    for (const APMMonitorMessage& m : monitor_.messages()) {
        if (m.code == 29027) {
            sawLoad = true;
            EXPECT_EQ(m.level, 7);
            ASSERT_EQ(m.contexts.size(), 1u);
            EXPECT_EQ(m.contexts[0].description(), "2");
        }
    }
    EXPECT_TRUE(sawLoad);
    const std::shared_ptr<APMPEventEditing> editing = remote->eventEditing();
    ASSERT_TRUE(editing);

    EXPECT_EQ(remote->maxSignInDelayInDays(), 60);  // now cached as a number
    monitor_.clear();
    sdk::Error error;
    ASSERT_TRUE(editing->handleEvent(APMPEvent("e", 1.0, {}), error)) << error.ToString();
    sdk::Value::Dictionary expected{{"c", "text"},
                                    {"n", 60.0},  // "60" as a number again
                                    {"platform", "macos"},
                                    {"package_name", platform::Bundle::mainBundleIdentifier()},
                                    {"vud_version", 111500.0}};
    const auto& bundle = platform::Bundle::main();
    if (auto version = bundle ? bundle->infoString("CFBundleShortVersionString") : std::nullopt) {
        expected.emplace("app_version", std::move(*version));
    }
    EXPECT_EQ(sdk::Value(editing->eventContext().outputEvent().parameters()), sdk::Value(expected));
    EXPECT_EQ(monitor_.codes(), std::vector<std::int64_t>{24005});

    // A configuration without programs keeps the running instance.
    ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig(kAppID).get()));
    EXPECT_EQ(remote->eventEditing(), editing);
    // One with programs replaces it.
    auto next = makeConfig(kAppID);
    addProgram(*next, "1");
    ASSERT_TRUE(remote->updateMeasurementConfig(next.get()));
    ASSERT_TRUE(remote->eventEditing());
    EXPECT_NE(remote->eventEditing(), editing);
}

// One default consent entry of `type` with `status`, in a consent configuration whose DMA flag
// is `dma`.
void setConsent(APMPBMeasurementConfig& config, std::int32_t type, std::int32_t status, bool dma) {
    APMPBConsentConfig consent;
    APMPBSetBool(&consent, apmpb::ConsentConfig::kIsDmaRegion, dma);
    auto entry = std::make_shared<APMPBConsentDefaultEntry>();
    APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kType, type);
    APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kStatus, status);
    appendElement(consent, apmpb::ConsentConfig::kDefaults, entry,
                  &APMPBConsentDefaultEntry::makeShared);
    APMPBSetMessage(&config, apmpb::MeasurementConfig::kConsentConfig, &consent);
}

TEST_F(APMRemoteConfigProgramsTest, FailingLoadTurnsEditingOffAndTakesEveryOtherSetting) {
    auto first = makeConfig(kAppID);
    addDataControl(*first, "old");
    setConsent(*first, 1, 2, false);  // ad_storage denied
    APMPBPsmSetting oldPsm;
    APMPBSetInt32(&oldPsm, apmpb::PsmSetting::kPsmPrefixEmail, 7);
    APMPBSetMessage(first.get(), apmpb::MeasurementConfig::kPsmSetting, &oldPsm);
    addProgram(*first, "1");
    auto remote = makeRemoteConfig();
    ASSERT_TRUE(remote->updateMeasurementConfig(first.get()));
    ASSERT_TRUE(remote->eventEditing());

    // The new configuration's privacy settings must replace the old ones even though its
    // program cannot load.
    auto second = makeConfig(kAppID, {{"measurement.upload.retry_count", "9"}});
    addDataControl(*second, "new");
    setConsent(*second, 2, 1, true);  // analytics_storage granted
    APMPBPsmSetting newPsm;
    APMPBSetInt32(&newPsm, apmpb::PsmSetting::kPsmPrefixEmail, 12);
    APMPBSetMessage(second.get(), apmpb::MeasurementConfig::kPsmSetting, &newPsm);
    addProgram(*second, kUnloadableProgram);
    ASSERT_TRUE(remote->updateMeasurementConfig(second.get()));

    EXPECT_EQ(remote->eventEditing(), nullptr);
    bool sawWhy = false;
    for (const APMMonitorMessage& m : monitor_.messages()) {
        if (m.code == 29026) {
            sawWhy = true;
            EXPECT_EQ(m.level, 1);
            EXPECT_EQ(m.message, "Failed to initiate event editing instance");
            ASSERT_EQ(m.contexts.size(), 1u);  // the load error says why
            EXPECT_FALSE(m.contexts[0].description().empty());
        }
    }
    EXPECT_TRUE(sawWhy);
    EXPECT_EQ(remote->dataControls(), (std::vector<std::string>{"new"}));
    EXPECT_EQ(remote->consentDefaults(),
              (std::map<std::string, std::string>{{"analytics_storage", "granted"}}));
    EXPECT_TRUE(remote->isDMARegion());
    EXPECT_EQ(remote->hashPrefixBitLengthEmail(), 12);
    EXPECT_EQ(remote->uploadingRetryCount(), 9);
}

}  // namespace
