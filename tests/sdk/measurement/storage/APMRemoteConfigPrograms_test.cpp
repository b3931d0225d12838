// The event-editing programs of a configuration: the first one loads into an editing instance
// with the configuration's modules, and that instance edits events.
#include "ProgramText.h"
#include "platform/bundle/Bundle.h"
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

class APMRemoteConfigProgramsTest : public sdktest::RemoteConfigTest {};

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

TEST_F(APMRemoteConfigProgramsTest, FailingLoadKeepsTheEarlierControlsAndConsent) {
    auto first = makeConfig(kAppID);
    addDataControl(*first, "kept");
    APMPBConsentConfig consent;
    APMPBSetBool(&consent, apmpb::ConsentConfig::kIsDmaRegion, false);
    auto entry = std::make_shared<APMPBConsentDefaultEntry>();
    APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kType, 1);
    APMPBSetInt32(entry.get(), apmpb::ConsentDefaultEntry::kStatus, 2);
    appendElement(consent, apmpb::ConsentConfig::kDefaults, entry,
                  &APMPBConsentDefaultEntry::makeShared);
    APMPBSetMessage(first.get(), apmpb::MeasurementConfig::kConsentConfig, &consent);
    addProgram(*first, "1");
    auto remote = makeRemoteConfig();
    ASSERT_TRUE(remote->updateMeasurementConfig(first.get()));
    ASSERT_TRUE(remote->eventEditing());

    auto second = makeConfig(kAppID, {{"measurement.upload.retry_count", "9"}});
    addDataControl(*second, "new");
    addProgram(*second, kUnloadableProgram);
    ASSERT_TRUE(remote->updateMeasurementConfig(second.get()));
    EXPECT_TRUE(monitor_.saw(29026));
    EXPECT_EQ(remote->eventEditing(), nullptr);
    EXPECT_EQ(remote->dataControls(), (std::vector<std::string>{"kept"}));
    EXPECT_EQ(remote->consentDefaults(),
              (std::map<std::string, std::string>{{"ad_storage", "denied"}}));
    EXPECT_FALSE(remote->isDMARegion());
    // Settings and event configurations come before the programs and are taken.
    EXPECT_EQ(remote->uploadingRetryCount(), 9);
}

}  // namespace
