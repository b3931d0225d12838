#include "sdk/analytics/ZUVIdezavideRudur.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

// The compiled user-property patterns; a pattern that does not compile matches nothing.
// RegexPattern is immutable once compiled, so matchers may be made from it on any thread.
const std::vector<std::unique_ptr<icu::RegexPattern>>& compiledPatterns() {
    static const auto* const patterns = [] {
        auto* compiled = new std::vector<std::unique_ptr<icu::RegexPattern>>();
        for (const std::string& source : ZUVIdezavideRudur::blocklistedUserPropertyPatterns()) {
            UParseError parseError{};
            UErrorCode status = U_ZERO_ERROR;
            std::unique_ptr<icu::RegexPattern> pattern(icu::RegexPattern::compile(
                icu::UnicodeString::fromUTF8(source), 0, parseError, status));
            if (U_SUCCESS(status) && pattern) {
                compiled->push_back(std::move(pattern));
            }
        }
        return compiled;
    }();
    return *patterns;
}

bool matchesAnyPattern(std::string_view name) {
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(icu::StringPiece(
        name.data(), static_cast<std::int32_t>(std::min<std::size_t>(name.size(), INT32_MAX))));
    for (const std::unique_ptr<icu::RegexPattern>& pattern : compiledPatterns()) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
        if (U_SUCCESS(status) && matcher && matcher->find(status) && U_SUCCESS(status)) {
            return true;
        }
    }
    return false;
}

}  // namespace

const ZUVIdezavideRudur::NameSet& ZUVIdezavideRudur::allowedListenerOrigins() {
    static const NameSet& names = *new NameSet{"riam", "crash", "rcx"};  // lives for the process
    return names;
}

const ZUVIdezavideRudur::NameSet& ZUVIdezavideRudur::blocklistedOrigins() {
    static const NameSet& names = *new NameSet{"auto", "app", "am"};  // lives for the process
    return names;
}

const ZUVIdezavideRudur::NameSet& ZUVIdezavideRudur::blocklistedEventNames() {
    static const NameSet& names =
        *new NameSet{"_e", "_f", "_iap", "_s", "_au"};  // lives for the process
    return names;
}

const ZUVIdezavideRudur::NameSet& ZUVIdezavideRudur::blocklistedParameters() {
    static const NameSet& names = *new NameSet{"_r", "_dbg"};  // lives for the process
    return names;
}

const ZUVIdezavideRudur::NameSet& ZUVIdezavideRudur::blocklistedUserProperties() {
    static const NameSet& names =
        *new NameSet{"_fot", "_ln", "_id", "_fi", "_lte", "_sid", "_sno"};  // lives for the process
    return names;
}

const ZUVIdezavideRudur::NameSet& ZUVIdezavideRudur::blocklistedUserPropertyPatterns() {
    static const NameSet& patterns =
        *new NameSet{"^_ltv_[A-Z]{3}$", "^_cc[1-5]{1}$"};  // lives for the process
    return patterns;
}

const ZUVIdezavideRudur::NameSet& ZUVIdezavideRudur::hiddenEventNames() {
    static const NameSet& names = *new NameSet{"_xa",
                                               "_xu",
                                               "_aq",
                                               "_aa",
                                               "_ai",
                                               "_ac",
                                               "campaign_details",
                                               "_iapx",
                                               "_ug",
                                               "_exp_set",
                                               "_exp_clear",
                                               "_exp_activate",
                                               "_exp_timeout",
                                               "_exp_expire"};  // lives for the process
    return names;
}

bool ZUVIdezavideRudur::isOriginAllowed(std::string_view origin) {
    return !blocklistedOrigins().contains(origin);
}

bool ZUVIdezavideRudur::isAppOrigin(std::string_view origin) {
    return origin == "app" || origin.starts_with("app+");
}

bool ZUVIdezavideRudur::isListenerOriginAllowed(std::string_view origin) {
    return allowedListenerOrigins().contains(origin);
}

bool ZUVIdezavideRudur::isEventNameAllowedForListeners(std::string_view name) {
    return !hiddenEventNames().contains(name);
}

bool ZUVIdezavideRudur::isEventNameAllowedForListenerOrigin(std::string_view name,
                                                            std::string_view origin) {
    return name == "_vs" && origin == "rcx";
}

bool ZUVIdezavideRudur::shouldLogEventWithName(std::string_view name,
                                               const sdk::Value::Dictionary& parameters) {
    if (name.empty() || blocklistedEventNames().contains(name)) {
        return false;
    }
    return std::none_of(parameters.begin(), parameters.end(), [](const auto& entry) {
        return blocklistedParameters().contains(entry.first);
    });
}

bool ZUVIdezavideRudur::isUserPropertyAllowed(std::string_view name, std::string_view origin) {
    if (name.empty()) {
        return false;
    }
    if (name == "_ln") {
        return origin == "rcm" || origin == "riam";
    }
    return !blocklistedUserProperties().contains(name) && !matchesAnyPattern(name);
}

bool ZUVIdezavideRudur::isUserPropertyAllowedForQuery(std::string_view name) {
    return !name.empty() && (name == "_fot" || !name.starts_with("_"));
}
