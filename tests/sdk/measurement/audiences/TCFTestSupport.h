#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/audiences/APMTCFData.h"
#include "sdk/measurement/audiences/APMTCFDataGenerator.h"
#include "sdk/measurement/audiences/APMTCFFacade.h"

namespace sdktest {

// `size` characters of '0' with '1' at each of `set`.
inline std::string bitString(std::size_t size, std::initializer_list<std::size_t> set) {
    std::string bits(size, '0');
    for (std::size_t index : set) {
        bits[index] = '1';
    }
    return bits;
}

// The vendor consents and legitimate interests with this vendor's bit (754) set or not.
inline std::string vendorBits(bool set) {
    return set ? bitString(755, {754}) : bitString(755, {});
}

// A restriction string of purpose n with `restriction` at the vendor's position.
inline std::string restrictionString(char restriction) {
    std::string text(800, '3');
    text[754] = restriction;
    return text;
}

// A snapshot in which every decision is granted: TCF data enabled, advertiser consent mode and
// GDPR on, policy version 4, CMP SDK ID 300, the vendor's bits and every purpose bit set.
inline APMTCFDataGenerator allGranted() {
    APMTCFDataGenerator generator;
    generator.isTCFDataEnabled = true;
    generator.isAdvertiserConsentModeEnabled = sdk::Value(1);
    generator.vendorConsents = vendorBits(true);
    generator.vendorLegitimateInterests = vendorBits(true);
    generator.cmpSDKID = sdk::Value(300);
    generator.gdprApplies = sdk::Value(1);
    generator.policyVersion = sdk::Value(4);
    generator.purposeConsents = "1111111111";
    generator.purposeLegitimateInterests = "1111111111";
    generator.publisherRestrictions = std::vector<std::string>(10, "");
    return generator;
}

// The facade a TCF client is made with, recording each call. Consent is also applied to the
// consent state with source 5 when that source may replace the current one, as the facade
// does, so the signals can be checked.
class RecordingFacade : public APMTCFFacade {
  public:
    struct Event {
        std::string origin;
        std::string name;
        sdk::Value::Dictionary parameters;
    };
    struct Consent {
        APMConsentSettings settings;
        std::string key;
    };

    void logInternalEvent(std::string_view origin, std::string_view name,
                          const sdk::Value::Dictionary& parameters) override {
        std::lock_guard lock(mutex_);
        events_.push_back({std::string(origin), std::string(name), parameters});
    }
    void setConsent(const APMConsentSettings& consent, std::string_view key) override {
        {
            std::lock_guard lock(mutex_);
            consents_.push_back({consent, std::string(key)});
        }
        if (APMConsentSettingsUtil::isConsentSourceHigherPriority(5)) {
            APMConsentSettingsUtil::updateSettings(consent, 5);
        }
    }
    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<Consent> consents() const {
        std::lock_guard lock(mutex_);
        return consents_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Event> events_;      // guarded by mutex_
    std::vector<Consent> consents_;  // guarded by mutex_
};

// Writes an XML property list with the dictionary body `entries` to `path`, replacing the
// file in one step, as a consent-management platform's write of its preferences would.
inline void writePlistFile(const std::filesystem::path& path, std::string_view entries) {
    std::filesystem::create_directories(path.parent_path());
    const std::filesystem::path temporary = path.string() + ".new";
    std::ofstream(temporary) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<plist version=\"1.0\"><dict>"
                             << entries << "</dict></plist>\n";
    std::filesystem::rename(temporary, path);
}

}  // namespace sdktest
