// The event-editing programs of a configuration, run on a stand-in for the script runtime.
#include "platform/bundle/Bundle.h"
#include "sdk/measurement/script/APMPKeyValueStore.h"
#include "sdk/measurement/script/APMPMessageLogger.h"
#include "sdk/measurement/script/APMPObjectProvider.h"
#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace {

using sdktest::appendElement;
using sdktest::kAppID;
using sdktest::makeConfig;

// Records what the configuration installs and loads; fails loads while `fail` is set.
class FakeEditing : public APMPEventEditing {
  public:
    void setModuleCreator(APMPModuleCreator creator, const std::string& name) override {
        creators[name] = std::move(creator);
    }
    bool loadProgram(const APMPBProgram& program, sdk::Error* error) override {
        auto instructions =
            APMPBGetRepeated<APMPBRuntimeEntity>(&program, apmpb::Program::kInstructions);
        loaded.push_back(APMPBGetString(std::get<1>(instructions->at(0)).get(),
                                        apmpb::RuntimeEntity::kStringValue)
                             .value_or(""));
        if (fail) {
            *error = sdk::Error("com.vovidu.vud.measurement.pixie.editing.ErrorDomain", 5,
                                "cannot load");
        }
        return !fail;
    }

    bool fail = false;
    std::map<std::string, APMPModuleCreator> creators;
    std::vector<std::string> loaded;
};

void addProgram(APMPBMeasurementConfig& config, const std::string& tag) {
    auto entity = std::make_shared<APMPBRuntimeEntity>();
    APMPBSetString(entity.get(), apmpb::RuntimeEntity::kStringValue, tag);
    auto program = std::make_shared<APMPBProgram>();
    appendElement(*program, apmpb::Program::kInstructions, entity, &APMPBRuntimeEntity::makeShared);
    appendElement(config, apmpb::MeasurementConfig::kDynamicEventEditing, program,
                  &APMPBProgram::makeShared);
}

void addDataControl(APMPBMeasurementConfig& config, const std::string& name) {
    auto control = std::make_shared<APMPBDataControl>();
    APMPBSetString(control.get(), apmpb::DataControl::kName, name);
    appendElement(config, apmpb::MeasurementConfig::kDataControls, control,
                  &APMPBDataControl::makeShared);
}

class APMRemoteConfigProgramsTest : public sdktest::RemoteConfigTest {
  protected:
    std::shared_ptr<APMRemoteConfig> makeWithFakes() {
        return makeRemoteConfig(nullptr, [this] {
            auto editing = std::make_shared<FakeEditing>();
            editing->fail = failLoads_;
            made_.push_back(editing);
            return editing;
        });
    }

    bool failLoads_ = false;
    std::vector<std::shared_ptr<FakeEditing>> made_;
};

TEST_F(APMRemoteConfigProgramsTest, OnlyTheFirstProgramLoadsWithTheThreeModules) {
    auto config = makeConfig(
        kAppID, {{"measurement.psm_signin_delay", "60"}, {"measurement.custom", "text"}});
    addProgram(*config, "first");
    addProgram(*config, "second");
    auto remote = makeWithFakes();
    ASSERT_TRUE(remote->updateMeasurementConfig(config.get()));

    ASSERT_EQ(made_.size(), 1u);
    EXPECT_EQ(made_[0]->loaded, (std::vector<std::string>{"first"}));
    EXPECT_EQ(remote->eventEditing(), made_[0]);
    bool sawLoad = false;
    for (const APMMonitorMessage& m : monitor_.messages()) {
        if (m.code == 29027) {
            sawLoad = true;
            ASSERT_EQ(m.contexts.size(), 1u);
            EXPECT_EQ(m.contexts[0].description(), "2");
        }
    }
    EXPECT_TRUE(sawLoad);

    auto& creators = made_[0]->creators;
    ASSERT_EQ(creators.size(), 3u);
    auto store = std::dynamic_pointer_cast<APMPKeyValueStore>(creators["internal.remoteConfig"]());
    ASSERT_TRUE(store);
    EXPECT_EQ(store->name(), "internal.remoteConfig");
    EXPECT_EQ(store->getValue("measurement.custom"), "text");
    EXPECT_EQ(remote->maxSignInDelayInDays(), 60);  // now cached as a number
    EXPECT_EQ(remote->TEST_cachedValues().at("measurement.psm_signin_delay"), sdk::Value(60));
    EXPECT_EQ(store->getValue("measurement.psm_signin_delay"), "60");
    EXPECT_EQ(store->getValue("measurement.absent"), std::nullopt);

    auto metadata =
        std::dynamic_pointer_cast<APMPObjectProvider>(creators["internal.appMetadata"]());
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->name(), "internal.appMetadata");
    EXPECT_EQ(metadata->object(), sdk::Value(sdk::Value::Dictionary{
                                      {"platform", "macos"},
                                      {"package_name", platform::Bundle::mainBundleIdentifier()},
                                      {"vud_version", 111500}}));

    auto logger = std::dynamic_pointer_cast<APMPMessageLogger>(creators["internal.logger"]());
    ASSERT_TRUE(logger);
    EXPECT_EQ(logger->name(), "internal.logger");
    EXPECT_TRUE(logger->logger());

    // A configuration without programs keeps the running instance.
    ASSERT_TRUE(remote->updateMeasurementConfig(makeConfig(kAppID).get()));
    EXPECT_EQ(remote->eventEditing(), made_[0]);
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
    addProgram(*first, "good");
    auto remote = makeWithFakes();
    ASSERT_TRUE(remote->updateMeasurementConfig(first.get()));
    ASSERT_TRUE(remote->eventEditing());

    auto second = makeConfig(kAppID, {{"measurement.upload.retry_count", "9"}});
    addDataControl(*second, "new");
    addProgram(*second, "bad");
    failLoads_ = true;
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

TEST_F(APMRemoteConfigProgramsTest, WithoutARuntimeNoProgramRuns) {
    auto config = makeConfig(kAppID);
    addProgram(*config, "first");
    addDataControl(*config, "applied");
    auto remote = makeRemoteConfig();
    ASSERT_TRUE(remote->updateMeasurementConfig(config.get()));
    EXPECT_EQ(remote->eventEditing(), nullptr);
    EXPECT_EQ(remote->dataControls(), (std::vector<std::string>{"applied"}));
}

}  // namespace
