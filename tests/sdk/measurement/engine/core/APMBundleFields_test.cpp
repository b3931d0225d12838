// The identifier, consent and data-control fields of a bundle, each bundle written through the
// wrappers and read back with protoc.
#include "sdk/measurement/engine/core/APMBundleFields.h"

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/MessageSlots.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/engine/APMDefaultIdentitySupportTestPeer.h"
#include "tests/sdk/measurement/engine/core/IdentityTestSupport.h"
#include "tests/sdk/measurement/messages/MessageTestSupport.h"

namespace {

namespace MB = apmpb::MeasurementBundle;
namespace UA = apmpb::UserAttribute;
using messages_test::asString;
using messages_test::protoc;

constexpr const char* kAdID = "11111111-2222-3333-4444-555555555555";

std::string decode(const APMPBMeasurementBundle& bundle) {
    const auto bytes = bundle.protoBuffer();
    EXPECT_TRUE(bytes.has_value());
    return protoc("--decode=apmpb.MeasurementBundle", asString(bytes.value_or(sdk::Bytes{})));
}

bool has(const std::string& text, const std::string& line) {
    return text.find(line) != std::string::npos;
}

APMPBUserAttribute attribute(const std::string& name, std::int64_t value) {
    APMPBUserAttribute a;
    APMPBSetString(&a, UA::kName, name);
    APMPBSetInt64(&a, UA::kIntValue, value);
    return a;
}

class APMBundleFieldsTest : public sdktest::IdentityTest {};

TEST_F(APMBundleFieldsTest, IdentifiersFollowSignalsTrackingAndGate) {
    struct Case {
        const char* signals;
        std::optional<std::int64_t> authorization;  // none: no support at all
        bool gate;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        // Ad storage denied: no advertising ID; the app instance stays.
        {"G101",
         3,
         false,
         {"app_instance_id:", "consent_signals: \"G101\"", "apple_consent_status: 3",
          "audience_id: 7", "session_stitching_token: \"TOKEN\""},
         {"resettable_device_id:", "vendor_device_id:"}},
        // Analytics storage denied: no app instance, token or audiences; the advertising ID
        // stays with authorised tracking.
        {"G110",
         3,
         false,
         {"resettable_device_id: \"" + std::string(kAdID)},
         {"app_instance_id:", "session_stitching_token:", "audience_evaluation_results"}},
        // Denied authorisation behind the gate: no advertising ID; without the gate it is used.
        {"G111",
         2,
         true,
         {"app_instance_id:", "apple_consent_status: 2"},
         {"resettable_device_id:"}},
        {"G111", 2, false, {"resettable_device_id:", "limited_ad_tracking: false"}, {}},
        // No support: status 6 is not written, nor is limited ad tracking.
        {"G111",
         std::nullopt,
         false,
         {"app_instance_id:"},
         {"53:", "apple_consent_status", "limited_ad_tracking", "resettable_device_id:"}},
        // Empty signals remove the bundle's; short ones leave them.
        {"", 3, false, {}, {"consent_signals:"}},
        {"G1", 3, false, {"consent_signals: \"G100\""}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.signals) + " status " +
                     std::to_string(c.authorization.value_or(-1)) + (c.gate ? " gated" : ""));
        if (c.authorization) {
            installSupport(kAdID, c.authorization);
        } else {
            APMDefaultIdentitySupportTestPeer::setPlatformSupport(
                APMDefaultIdentitySupport::sharedInstance(), nullptr);
        }
        auto identity = makeIdentity();
        APMPBMeasurementBundle bundle;
        APMPBSetString(&bundle, MB::kConsentSignals, std::string("G100"));
        APMPBSetString(&bundle, MB::kSessionStitchingToken, std::string("TOKEN"));
        auto audience = std::make_shared<APMPBAudienceLeafFilterResult>();
        APMPBSetInt32(audience.get(), apmpb::AudienceLeafFilterResult::kAudienceId, 7);
        APMPBSetRepeated(&bundle, MB::kAudienceEvaluationResults, APMPBRepeatedArray{audience});
        APMSetBundleIdentifiers(bundle, c.signals, c.gate, *identity, /*overwrite=*/true);
        const std::string text = decode(bundle);
        for (const std::string& line : c.present) {
            EXPECT_TRUE(has(text, line)) << line << "\n" << text;
        }
        for (const std::string& line : c.absent) {
            EXPECT_FALSE(has(text, line)) << line << "\n" << text;
        }
    }
}

TEST_F(APMBundleFieldsTest, WithoutOverwriteTheBundlesOwnSignalsDecide) {
    installSupport(kAdID, 3);
    auto identity = makeIdentity();
    APMPBMeasurementBundle bundle;
    APMPBSetString(&bundle, MB::kConsentSignals, std::string("G110"));
    APMSetBundleIdentifiers(bundle, "G111", false, *identity, /*overwrite=*/false);
    const std::string text = decode(bundle);
    EXPECT_TRUE(has(text, "consent_signals: \"G110\"")) << text;
    EXPECT_FALSE(has(text, "app_instance_id:")) << text;
}

TEST_F(APMBundleFieldsTest, ConsentFieldsAndTheNPAAttribute) {
    struct Case {
        std::vector<std::string> services;
        bool dmaRegion;
        bool adUserDataDenied;
        const char* expected;  // the core_platform_services line, or "" for none
    };
    const Case cases[] = {
        {{}, true, false, "core_platform_services: \"-\""},
        {{"b", "a"}, true, true, "core_platform_services: \"-\""},
        {{"c", "a", "b"}, true, false, "core_platform_services: \"abc\""},
        {{"b", "a"}, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        auto config = sdktest::makeConfig(sdktest::kAppID, {});
        APMPBConsentConfig consent;
        for (const std::string& name : c.services) {
            auto service = std::make_shared<APMPBCorePlatformServiceEntry>();
            APMPBSetString(service.get(), apmpb::CorePlatformServiceEntry::kName, name);
            sdktest::appendElement(consent, apmpb::ConsentConfig::kCorePlatformServices, service,
                                   &APMPBCorePlatformServiceEntry::makeShared);
        }
        APMPBSetBool(&consent, apmpb::ConsentConfig::kIsDmaRegion, c.dmaRegion);
        APMPBSetMessage(config.get(), apmpb::MeasurementConfig::kConsentConfig, &consent);
        auto remote = makeRemoteConfig();
        ASSERT_TRUE(remote->updateMeasurementConfig(config.get()));

        APMPBMeasurementBundle bundle;
        APMPBSetString(&bundle, MB::kCorePlatformServices, std::string("old"));
        APMSetBundleConsentFields(bundle, "19999", c.adUserDataDenied, nullptr, *remote, true);
        const std::string text = decode(bundle);
        EXPECT_TRUE(has(text, "consent_diagnostics: \"19999\"")) << text;
        EXPECT_TRUE(has(text, std::string("dma_region: ") + (c.dmaRegion ? "true" : "false")))
            << text;
        if (*c.expected != '\0') {
            EXPECT_TRUE(has(text, c.expected)) << text;
        } else {
            EXPECT_FALSE(has(text, "core_platform_services")) << text;
        }
        // Without overwrite, what the bundle holds stays.
        APMSetBundleConsentFields(bundle, "10000", false, nullptr, *remote, false);
        EXPECT_EQ(decode(bundle), text);
    }

    auto remote = configWithSettings({});
    APMPBMeasurementBundle bundle;
    APMPBSetRepeated(
        &bundle, MB::kUserAttributes,
        APMPBRepeatedArray{std::make_shared<APMPBUserAttribute>(attribute("_npa", 0))});
    const APMPBUserAttribute npa = attribute("_npa", 1);
    APMSetBundleConsentFields(bundle, "19999", false, &npa, *remote, /*overwrite=*/false);
    EXPECT_EQ(APMPBGetInt64(APMBundleNPAUserAttribute(bundle).get(), UA::kIntValue), 0);
    APMSetBundleConsentFields(bundle, "19999", false, &npa, *remote, /*overwrite=*/true);
    EXPECT_EQ(APMPBGetInt64(APMBundleNPAUserAttribute(bundle).get(), UA::kIntValue), 1);
    EXPECT_EQ(APMPBGetRepeated<APMPBUserAttribute>(&bundle, MB::kUserAttributes)->size(), 1U);
}

TEST_F(APMBundleFieldsTest, SameConsentComparesSignalsDiagnosticsServicesRegionAndNPA) {
    const auto make = [](std::optional<std::string> signals, std::optional<bool> dma,
                         std::optional<std::int64_t> npa) {
        APMPBMeasurementBundle b;
        APMPBSetString(&b, MB::kConsentSignals, signals);
        APMPBSetString(&b, MB::kConsentDiagnostics, std::string("19999"));
        APMPBSetString(&b, MB::kCorePlatformServices, std::string("-"));
        if (dma) {
            APMPBSetBool(&b, MB::kDmaRegion, *dma);
        }
        if (npa) {
            APMPBSetRepeated(
                &b, MB::kUserAttributes,
                APMPBRepeatedArray{std::make_shared<APMPBUserAttribute>(attribute("_npa", *npa))});
        }
        return b;
    };
    const auto base = make("G111", true, std::nullopt);
    EXPECT_TRUE(APMBundlesHaveSameConsent(&base, &base));
    const auto noSignals = make(std::nullopt, true, std::nullopt);
    EXPECT_TRUE(APMBundlesHaveSameConsent(&noSignals, &noSignals));
    const auto otherSignals = make("G100", true, std::nullopt);
    const auto otherRegion = make("G111", false, std::nullopt);
    const auto withNPA = make("G111", true, 1);
    const auto withOtherNPA = make("G111", true, 0);
    for (const APMPBMeasurementBundle* other :
         {&noSignals, &otherSignals, &otherRegion, &withNPA}) {
        EXPECT_FALSE(APMBundlesHaveSameConsent(&base, other));
    }
    EXPECT_FALSE(APMBundlesHaveSameConsent(&withNPA, &withOtherNPA));
    const auto sameNPA = make("G111", true, 1);
    EXPECT_TRUE(APMBundlesHaveSameConsent(&withNPA, &sameNPA));
    EXPECT_FALSE(APMBundlesHaveSameConsent(&base, nullptr));
}

TEST_F(APMBundleFieldsTest, DataControlsRedactAndListTheirKeys) {
    auto identity = makeIdentity();
    const auto make = [](const char* signals) {
        APMPBMeasurementBundle b;
        APMPBSetString(&b, MB::kConsentSignals, std::string(signals));
        APMPBSetString(&b, MB::kOsVersion, std::string("14.2.1"));
        APMPBSetString(&b, MB::kDeviceModel, std::string("Model"));
        APMPBSetString(&b, MB::kAppInstanceId, std::string("AIID"));
        APMPBSetString(&b, MB::kSessionStitchingToken, std::string("TOKEN"));
        APMPBSetRepeated(
            &b, MB::kUserAttributes,
            APMPBRepeatedArray{std::make_shared<APMPBUserAttribute>(attribute("_id", 1)),
                               std::make_shared<APMPBUserAttribute>(attribute("x", 2))});
        return b;
    };

    auto bundle = make("G111");
    APMApplyDataControlsToBundle(bundle, {"os_version", "app_instance_id", "user_id"}, *identity);
    std::string text = decode(bundle);
    EXPECT_TRUE(has(text, "os_version: \"14\"\n")) << text;
    EXPECT_TRUE(has(text, "device_model: \"Model\"")) << text;
    EXPECT_FALSE(has(text, "app_instance_id: \"AIID\"")) << text;
    EXPECT_TRUE(has(text, "ephemeral_app_instance_id: \"" + identity->ephemeralAppInstanceID()))
        << text;
    EXPECT_FALSE(has(text, "name: \"_id\"")) << text;
    EXPECT_TRUE(has(text, "name: \"x\"")) << text;
    EXPECT_TRUE(has(text,
                    "redacted_fields: \"os_version\"\nredacted_fields: \"app_instance_id\"\n"
                    "redacted_fields: \"user_id\"\n"))
        << text;

    bundle = make("G110");
    APMApplyDataControlsToBundle(bundle, {"device_info", "app_instance_id", "enhanced_user_id"},
                                 *identity);
    text = decode(bundle);
    EXPECT_TRUE(has(text, "os_version: \"14\"\n")) << text;
    EXPECT_FALSE(has(text, "device_model:")) << text;
    EXPECT_FALSE(has(text, "app_instance_id:")) << text;  // nor the ephemeral one
    EXPECT_FALSE(has(text, "session_stitching_token:")) << text;

    bundle = make("G111");
    APMApplyDataControlsToBundle(bundle, {}, *identity);
    EXPECT_FALSE(has(decode(bundle), "redacted_fields"));
}

TEST(APMBundleFieldsPlainTest, SignalsAndFirstOpen) {
    EXPECT_TRUE(APMIsAnalyticsStorageDeniedInSignals("G1-0"));
    EXPECT_TRUE(APMIsAnalyticsStorageDeniedInSignals("G11d"));
    EXPECT_TRUE(APMIsAnalyticsStorageDeniedInSignals("G1-D"));
    EXPECT_FALSE(APMIsAnalyticsStorageDeniedInSignals("G101"));
    EXPECT_FALSE(APMIsAnalyticsStorageDeniedInSignals("G10"));

    APMPBMeasurementBundle bundle;
    EXPECT_FALSE(APMBundleHasFirstOpenEvent(bundle));
    auto open = std::make_shared<APMPBEvent>();
    APMPBSetString(open.get(), apmpb::Event::kName, std::string("_f"));
    auto other = std::make_shared<APMPBEvent>();
    APMPBSetString(other.get(), apmpb::Event::kName, std::string("_e"));
    APMPBSetRepeated(&bundle, MB::kEvents, APMPBRepeatedArray{other});
    EXPECT_FALSE(APMBundleHasFirstOpenEvent(bundle));
    APMPBSetRepeated(&bundle, MB::kEvents, APMPBRepeatedArray{other, open});
    EXPECT_TRUE(APMBundleHasFirstOpenEvent(bundle));
}

}  // namespace
