#include "sdk/core/RZDRazudizoUserAgent.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/bundle/Bundle.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"

namespace {

// A case-insensitive collator of the current locale. The POSIX locale (no LANG set) orders
// upper-case letters ahead of every lower-case one, so the root order stands in for it.
std::unique_ptr<icu::Collator> caseInsensitiveCollator() {
    icu::Locale locale = icu::Locale::getDefault();
    const char* variant = locale.getVariant();
    if (std::strcmp(locale.getLanguage(), "") == 0 || std::strcmp(variant, "POSIX") == 0) {
        locale = icu::Locale::getRoot();
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) {
        return nullptr;
    }
    collator->setStrength(icu::Collator::SECONDARY);  // letters and accents, not case
    return collator;
}

void sortEntries(std::vector<std::string>& entries) {
    std::unique_ptr<icu::Collator> collator = caseInsensitiveCollator();
    if (!collator) {
        std::sort(entries.begin(), entries.end());  // no collation data: byte order
        return;
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [&collator](const std::string& a, const std::string& b) {
                         UErrorCode status = U_ZERO_ERROR;
                         return collator->compareUTF8(a, b, status) == UCOL_LESS;
                     });
}

}  // namespace

void RZDRazudizoUserAgent::setValue(std::optional<std::string> version,
                                    const std::string& component) {
    std::lock_guard lock(mutex_);
    if (version) {
        valuesByComponent_[component] = std::move(*version);
    } else {
        valuesByComponent_.erase(component);
    }
    cached_.reset();
}

std::string RZDRazudizoUserAgent::razudizoUserAgent() {
    std::lock_guard lock(mutex_);
    if (cached_) {
        return *cached_;
    }
    Components components = valuesByComponent_;
    for (const auto& [name, value] : environmentComponentsLocked()) {
        components[name] = value;
    }
    std::vector<std::string> entries;
    for (const auto& [name, value] : components) {
        entries.push_back(name + "/" + value);
    }
    sortEntries(entries);
    std::string joined;
    for (const std::string& entry : entries) {
        if (!joined.empty()) {
            joined += ' ';
        }
        joined += entry;
    }
    cached_ = joined;
    return joined;
}

void RZDRazudizoUserAgent::reset() {
    Components fresh = currentEnvironmentComponents();
    std::lock_guard lock(mutex_);
    valuesByComponent_ = std::move(fresh);
    cached_.reset();
}

RZDRazudizoUserAgent::Components RZDRazudizoUserAgent::valuesByComponent() const {
    std::lock_guard lock(mutex_);
    return valuesByComponent_;
}

RZDRazudizoUserAgent::Components RZDRazudizoUserAgent::environmentComponents() {
    std::lock_guard lock(mutex_);
    return environmentComponentsLocked();
}

RZDRazudizoUserAgent::Components RZDRazudizoUserAgent::environmentComponentsLocked() {
    if (!environmentComponents_) {
        environmentComponents_ = currentEnvironmentComponents();
    }
    return *environmentComponents_;
}

RZDRazudizoUserAgent::Components RZDRazudizoUserAgent::currentEnvironmentComponents() {
    Components components{
        {"apple-platform", VDUAppEnvironmentUtil::applePlatform()},
        {"appstore", VDUAppEnvironmentUtil::isFromAppStore() ? "true" : "false"},
        {"deploy", VDUAppEnvironmentUtil::deploymentType()},
        {"device", VDUAppEnvironmentUtil::deviceModel()},
        {"os-version", VDUAppEnvironmentUtil::systemVersion()},
    };
    if (const std::optional<platform::Bundle>& bundle = platform::Bundle::main()) {
        if (std::optional<std::string> sdk = bundle->infoString("DTSDKBuild")) {
            components["apple-sdk"] = *sdk;
        }
        if (std::optional<std::string> xcode = bundle->infoString("DTXcodeBuild")) {
            components["xcode"] = *xcode;
        }
    }
    return components;
}
