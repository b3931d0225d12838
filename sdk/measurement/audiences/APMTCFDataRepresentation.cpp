// The string form of a TCF snapshot: what the client stores to tell whether the data changed.

#include <array>
#include <charconv>
#include <string>

#include "sdk/measurement/audiences/APMTCFData.h"
#include "sdk/measurement/engine/APMStringUtil.h"

namespace {

// A number as a Foundation number describes itself: a boolean as 1 or 0, an integer in
// decimal, a real in its shortest form.
std::string numberDescription(const sdk::Value& number) {
    if (const std::optional<double> real = number.doubleValue()) {
        std::array<char, 64> buffer{};
        const auto [end, error] =
            std::to_chars(buffer.data(), buffer.data() + buffer.size(), *real);
        return error == std::errc() ? std::string(buffer.data(), end) : std::string("0");
    }
    if (const std::optional<std::int64_t> integer = number.intValue()) {
        return std::to_string(*integer);
    }
    return number.numberAsBool().value_or(false) ? "1" : "0";
}

class Entries {
  public:
    void add(std::string_view name, std::string_view value) {
        text_ += text_.empty() ? "" : ",";
        text_ += name;
        text_ += '=';
        text_ += value;
    }
    void addInt(std::string_view name, const APMTCFData::Number& number) {
        if (number) {
            add(name, std::to_string(APMTCFData::int32Value(number)));
        }
    }
    void addText(std::string_view name, const APMTCFData::Text& text) {
        if (text) {
            add(name, *text);
        }
    }
    void addVendorBit(std::string_view name, const APMTCFData::Text& bits) {
        if (bits) {
            add(name, apm_isBitEnabledAtIndex(*bits, APMTCFData::kVendorIndex) ? "1" : "0");
        }
    }
    void addRestrictions(const APMTCFData::Restrictions& restrictions) {
        if (!restrictions) {
            return;
        }
        std::string joined;
        bool anySet = false;
        for (std::size_t i = 0; i < restrictions->size(); ++i) {
            joined += (i == 0 ? "" : "|") + (*restrictions)[i];
            anySet = anySet || !(*restrictions)[i].empty();
        }
        if (anySet) {
            add("publisherRestrictions", joined);
        }
    }
    std::string take() { return std::move(text_); }

  private:
    std::string text_;
};

}  // namespace

std::string APMTCFData::stringRepresentationFromTCFData() const {
    Entries entries;
    entries.add("_v_", "2");
    entries.add("isTCFDataEnabled", isTCFDataEnabled_ ? "1" : "0");
    entries.addInt("isAdvertiserConsentModeEnabled", advertiserConsentMode_);
    entries.addInt("cmpSDKID", cmpSDKID_);
    entries.addVendorBit("hasVoviduInVendorConsents", vendorConsents_);
    entries.addVendorBit("hasVoviduInVendorLegitimateInterests", vendorLegitimateInterests_);
    entries.addInt("gdprApplies", gdprApplies_);
    entries.addInt("policyVersion", policyVersion_);
    entries.addText("purposeConsents", purposeConsents_);
    entries.addText("purposeLegitimateInterests", purposeLegitimateInterests_);
    entries.addRestrictions(publisherRestrictions_);
    if (purposeOneTreatment_) {
        entries.add("isPurposeOneTreatmentEnabled", numberDescription(*purposeOneTreatment_));
    }
    entries.addText("publisherCC", publisherCC_);
    return entries.take();
}
