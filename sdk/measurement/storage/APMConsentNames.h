#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The names of consent types and statuses as the remote configuration stores them and the
// consent state uses them.

// 1 "ad_storage", 2 "analytics_storage", 3 "ad_user_data", 4 "ad_personalization"; any other
// code the empty string.
inline std::string_view APMConsentTypeString(std::int64_t type) {
    switch (type) {
        case 1:
            return "ad_storage";
        case 2:
            return "analytics_storage";
        case 3:
            return "ad_user_data";
        case 4:
            return "ad_personalization";
        default:
            return "";
    }
}

// The code of a consent type name (exact spelling), 0 for any other string.
inline std::int64_t APMConsentTypeFromString(std::string_view type) {
    for (std::int64_t code = 1; code <= 4; ++code) {
        if (APMConsentTypeString(code) == type) {
            return code;
        }
    }
    return 0;
}

// 1 "granted", 2 "denied"; any other code the empty string.
inline std::string_view APMConsentStatusString(std::int64_t status) {
    switch (status) {
        case 1:
            return "granted";
        case 2:
            return "denied";
        default:
            return "";
    }
}

// `text` with its ASCII letters lower-cased: how consent statuses are compared.
inline std::string APMConsentLowercased(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lowered;
}

// The code of a status, compared without letter case ("DENIED" is 2); 0 for any other string.
inline std::int64_t APMConsentStatusFromString(std::string_view status) {
    const std::string lowered = APMConsentLowercased(status);
    if (lowered == "granted") {
        return 1;
    }
    return lowered == "denied" ? 2 : 0;
}
