#include "sdk/measurement/audiences/APMTCFClient.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/audiences/TCFTestSupport.h"

namespace {

namespace fs = std::filesystem;
using sdktest::bitString;
using sdktest::restrictionString;
using sdktest::vendorBits;

// The whole process runs with HOME and the XDG folders in a private folder.
const bool kHomeIsolated =
    (setenv("HOME", sdktest::IsolatedMeasurementFolders::instance().path().c_str(), 1), true);

fs::path configFolder() {
    return fs::path(std::getenv("XDG_CONFIG_HOME")) / "cellarbright";
}

// The standard suite's file: the application's own preferences.
fs::path standardSuite() {
    return configFolder() / "com.cellarbright.Cellarbright.plist";
}

fs::path clientSuite() {
    return configFolder() / "com.vovidu.vud.measurement.tcf.userdefaults.plist";
}

std::string key(std::string_view name, std::string_view value) {
    return "<key>" + std::string(name) + "</key>" + std::string(value);
}
std::string text(std::string_view value) {
    return "<string>" + std::string(value) + "</string>";
}
std::string integer(long long value) {
    return "<integer>" + std::to_string(value) + "</integer>";
}

// Keys of a consent platform with advertiser consent mode and GDPR on and the vendor's bits
// set; by default it denies purpose 1 and grants the rest.
std::string platformKeys(std::string_view purposeConsents = "0111111111") {
    return key("IABTCF_EnableAdvertiserConsentMode", integer(1)) +
           key("IABTCF_VendorConsents", text(vendorBits(true))) +
           key("IABTCF_VendorLegitimateInterests", text(vendorBits(true))) +
           key("IABTCF_CmpSdkID", integer(300)) + key("IABTCF_gdprApplies", integer(1)) +
           key("IABTCF_PolicyVersion", integer(4)) +
           key("IABTCF_PurposeConsents", text(purposeConsents)) +
           key("IABTCF_PurposeLegitimateInterests", text("1111111111")) +
           key("IABTCF_PublisherRestrictions7", text(restrictionString('2'))) +
           key("IABTCF_PurposeOneTreatment", "<false/>") + key("IABTCF_PublisherCC", text("DE"));
}

// A scalar plist node as "<type>:<value>"; an array as "array:" and its items joined with "|".
std::string describeNode(plist_t node) {
    uint64_t length = 0;
    uint8_t flag = 0;
    uint64_t number = 0;
    std::string shown = "array:";
    switch (plist_get_node_type(node)) {
        case PLIST_STRING:
            return "string:" + std::string(plist_get_string_ptr(node, &length));
        case PLIST_BOOLEAN:
            plist_get_bool_val(node, &flag);
            return flag ? "bool:true" : "bool:false";
        case PLIST_UINT:
            plist_get_uint_val(node, &number);
            return "int:" + std::to_string(static_cast<int64_t>(number));
        case PLIST_ARRAY:
            for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
                shown += (i == 0 ? "" : "|") + describeNode(plist_array_get_item(node, i));
            }
            return shown;
        default:
            return "other";
    }
}

// Each entry of a property-list dictionary file, described by describeNode, read with libplist.
std::map<std::string, std::string> readPlistFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    std::map<std::string, std::string> entries;
    if (root && plist_get_node_type(root) == PLIST_DICT) {
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(root, &iterator);
        char* name = nullptr;
        plist_t value = nullptr;
        for (plist_dict_next_item(root, iterator, &name, &value); name;
             plist_dict_next_item(root, iterator, &name, &value)) {
            entries[name] = describeNode(value);
            free(name);
            name = nullptr;
        }
        free(iterator);
    }
    plist_free(root);
    return entries;
}

// A value of another type than a string under each of the ten restriction keys.
std::string wrongRestrictions() {
    const char* values[] = {"<integer>0</integer>", "<true/>", "<real>2.0</real>",
                            "<array><string>0</string></array>", "<dict/>"};
    std::string entries;
    for (int purpose = 1; purpose <= 10; ++purpose) {
        entries += key("IABTCF_PublisherRestrictions" + std::to_string(purpose),
                       values[purpose % std::size(values)]);
    }
    return entries;
}

class APMTCFClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kHomeIsolated);
        // The standard suite is the one the shared user defaults read.
        ASSERT_EQ(APMUserDefaults::sharedUserDefaults().store()->path(), standardSuite());
        APMTCFClient(facade_).clearPersistedValues();
        APMConsentSettingsUtil::clearAllSettings();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove(standardSuite(), ignored);
        APMTCFClient(facade_).clearPersistedValues();
        APMConsentSettingsUtil::clearAllSettings();
    }

    std::shared_ptr<sdktest::RecordingFacade> facade_ =
        std::make_shared<sdktest::RecordingFacade>();
};

TEST_F(APMTCFClientTest, ChangedDataIsLoggedStoredAndAppliedOnce) {
    sdktest::writePlistFile(standardSuite(), platformKeys());
    APMTCFClient client(facade_);
    client.setConsentFromTCFData();

    ASSERT_EQ(facade_->events().size(), 1u);
    const sdktest::RecordingFacade::Event event = facade_->events()[0];
    EXPECT_EQ(event.origin, "auto");
    EXPECT_EQ(event.name, "_tcf");
    EXPECT_EQ(event.parameters, (sdk::Value::Dictionary{{"_tcfd", sdk::Value("14I4f")},
                                                        {"_tcfd2", sdk::Value("26111")},
                                                        {"_tcfm", sdk::Value("01")}}));
    ASSERT_EQ(facade_->consents().size(), 1u);
    EXPECT_EQ(facade_->consents()[0].key, "consent_settings_tcf");
    EXPECT_EQ(facade_->consents()[0].settings,
              (APMConsentSettings{{"ad_storage", "denied"},
                                  {"ad_personalization", "granted"},
                                  {"ad_user_data", "denied"}}));
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 5);
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G10-");
    EXPECT_EQ(APMConsentSettingsUtil::consentDiagnostics(), "17977");

    const std::string representation =
        "_v_=2,isTCFDataEnabled=1,isAdvertiserConsentModeEnabled=1,cmpSDKID=300,"
        "hasVoviduInVendorConsents=1,hasVoviduInVendorLegitimateInterests=1,gdprApplies=1,"
        "policyVersion=4,purposeConsents=0111111111,purposeLegitimateInterests=1111111111,"
        "publisherRestrictions=||||||2|||,isPurposeOneTreatmentEnabled=0,publisherCC=DE";
    const std::map<std::string, std::string> expected = {
        {"VOVIDU_ANALYTICS_TCF_DATA_ENABLED", "bool:true"},
        {"IABTCF_EnableAdvertiserConsentMode", "int:1"},
        {"IABTCF_VendorConsents", "string:" + vendorBits(true)},
        {"IABTCF_VendorLegitimateInterests", "string:" + vendorBits(true)},
        {"IABTCF_CmpSdkID", "int:300"},
        {"IABTCF_gdprApplies", "int:1"},
        {"IABTCF_PolicyVersion", "int:4"},
        {"IABTCF_PurposeConsents", "string:0111111111"},
        {"IABTCF_PurposeLegitimateInterests", "string:1111111111"},
        {"IABTCF_PublisherRestrictions",
         "array:string:|string:|string:|string:|string:|string:|string:2|string:|string:|string:"},
        {"IABTCF_PurposeOneTreatment", "bool:false"},
        {"IABTCF_PublisherCC", "string:DE"},
        {"tcf_StringRepresentation", "string:" + representation},
    };
    EXPECT_EQ(readPlistFile(clientSuite()), expected);

    // The same data again, also through a new client: nothing logged or applied.
    client.setConsentFromTCFData();
    APMTCFClient(facade_).setConsentFromTCFData();
    EXPECT_EQ(facade_->events().size(), 1u);
    EXPECT_EQ(facade_->consents().size(), 1u);

    // The platform grants purpose 1 now: logged and applied once more.
    sdktest::writePlistFile(standardSuite(), platformKeys("1111111111"));
    client.setConsentFromTCFData();
    ASSERT_EQ(facade_->events().size(), 2u);
    EXPECT_EQ(facade_->events()[1].parameters.at("_tcfd2"), sdk::Value("21111"));
    EXPECT_EQ(facade_->events()[1].parameters.at("_tcfm"), sdk::Value("01"));
    ASSERT_EQ(facade_->consents().size(), 2u);
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G11-");
}

TEST_F(APMTCFClientTest, DataOutsideTheGDPRIsLoggedAndStoredButNotApplied) {
    sdktest::writePlistFile(standardSuite(),
                            key("IABTCF_gdprApplies", integer(0)) +
                                key("IABTCF_EnableAdvertiserConsentMode", integer(1)) +
                                key("IABTCF_VendorConsents", text(vendorBits(true))));
    APMTCFClient client(facade_);
    client.setIsDMARegion(false);
    client.setConsentFromTCFData();
    ASSERT_EQ(facade_->events().size(), 1u);
    EXPECT_EQ(facade_->events()[0].parameters.at("_tcfd"), sdk::Value("1000c"));
    EXPECT_TRUE(facade_->consents().empty());
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), 100);
    EXPECT_TRUE(client.persistedValuesEqualCurrentData());

    // No data at all: nothing to read, nothing logged.
    fs::remove(standardSuite());
    APMTCFClient empty(facade_);
    empty.readTCFData();
    EXPECT_FALSE(empty.hasTCFDataToRead());
}

TEST_F(APMTCFClientTest, StoreOfAnOlderClientAppliesTheVendorFixOnce) {
    sdktest::writePlistFile(
        clientSuite(),
        key("tcf_StringRepresentation", text("isTCFDataEnabled=1,gdprApplies=1,cmpSDKID=300")));
    sdktest::writePlistFile(standardSuite(),
                            key("IABTCF_EnableAdvertiserConsentMode", integer(1)) +
                                key("IABTCF_gdprApplies", integer(1)) +
                                key("IABTCF_CmpSdkID", integer(300)) +
                                key("IABTCF_VendorConsents", text(vendorBits(false))) +
                                key("IABTCF_PurposeConsents", text("1111111111")));
    APMTCFClient client(facade_);
    client.readTCFData();
    EXPECT_TRUE(client.shouldApplyOneTimeTCFVendorFix());
    client.setConsentFromTCFData();
    ASSERT_EQ(facade_->events().size(), 1u);
    EXPECT_EQ(facade_->events()[0].parameters.at("_tcfm"), sdk::Value("10"));
    ASSERT_EQ(facade_->consents().size(), 1u);
    EXPECT_EQ(facade_->consents()[0].settings.at("ad_storage"), "denied");
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), "G10-");

    // Stored by this client now: no fix, and nothing new to apply.
    EXPECT_FALSE(client.shouldApplyOneTimeTCFVendorFix());
    client.setConsentFromTCFData();
    EXPECT_EQ(facade_->events().size(), 1u);
    EXPECT_EQ(facade_->consents().size(), 1u);
}

TEST_F(APMTCFClientTest, HostileKeysReadAsAbsentAndKeepTheDecisions) {
    const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
    std::string accented;                          // 754 units, then the vendor's '1'
    for (int i = 0; i < 754; ++i) {
        accented += "\xC3\xA9";
    }
    std::string emojiBits;  // 754 units, then the vendor's '1'
    for (int i = 0; i < 377; ++i) {
        emojiBits += emoji;
    }
    struct Case {
        const char* name;
        std::string entries;
        const char* tcfd2;
        const char* representation;
    };
    const std::vector<Case> cases = {
        {"every key of the wrong type",
         key("IABTCF_EnableAdvertiserConsentMode", text("1")) +
             key("IABTCF_VendorConsents", integer(1)) +
             key("IABTCF_VendorLegitimateInterests", "<array><string>1</string></array>") +
             key("IABTCF_CmpSdkID", text("300")) + key("IABTCF_gdprApplies", "<dict/>") +
             key("IABTCF_PolicyVersion", "<data>AAE=</data>") +
             key("IABTCF_PurposeConsents", "<true/>") +
             key("IABTCF_PurposeLegitimateInterests", "<real>1.0</real>") + wrongRestrictions() +
             key("IABTCF_PurposeOneTreatment", "<date>2020-01-01T00:00:00Z</date>") +
             key("IABTCF_PublisherCC", "<array/>"),
         "24445", "_v_=2,isTCFDataEnabled=1"},
        {"empty bit strings",
         key("IABTCF_VendorConsents", text("")) + key("IABTCF_PurposeConsents", text("")), "24445",
         "_v_=2,isTCFDataEnabled=1,hasVoviduInVendorConsents=0,purposeConsents="},
        {"10,000-character bit strings",
         key("IABTCF_VendorConsents", text(std::string(10000, '1'))) +
             key("IABTCF_VendorLegitimateInterests", text(std::string(10000, '1'))) +
             key("IABTCF_PurposeConsents", text(std::string(10000, '1'))) +
             key("IABTCF_PurposeLegitimateInterests", text(std::string(10000, '1'))) +
             key("IABTCF_PublisherRestrictions1",
                 text(restrictionString('0') + std::string(9000, '1'))),
         "23111", nullptr},
        {"positions count UTF-16 units",
         key("IABTCF_VendorConsents", text(accented + "1")) +
             key("IABTCF_VendorLegitimateInterests", text(emojiBits + "1")) +
             key("IABTCF_PurposeConsents", text("1\xC3\xA9"
                                                "01")) +
             key("IABTCF_PurposeLegitimateInterests", text(std::string(6, '1') + emoji)) +
             key("IABTCF_PublisherRestrictions3", text(accented + "0")),
         "21317", nullptr},
        {"restriction strings shorter than 755 units",
         key("IABTCF_VendorConsents", text(vendorBits(true))) +
             key("IABTCF_PurposeConsents", text("1111111111")) +
             key("IABTCF_PublisherRestrictions1", text(std::string(754, '0'))) +
             key("IABTCF_PublisherRestrictions3", text(std::string(753, '0') + emoji)),
         "21115", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sdktest::writePlistFile(standardSuite(), c.entries);
        APMTCFClient client(facade_);
        client.readTCFData();
        EXPECT_EQ(client.tcfd2ParamValue(), c.tcfd2);
        if (c.representation) {
            EXPECT_EQ(client.tcfData().stringRepresentationFromTCFData(), c.representation);
        }
        ASSERT_TRUE(client.tcfData().publisherRestrictions());
        EXPECT_EQ(client.tcfData().publisherRestrictions()->size(), 10u);
    }
}

}  // namespace
