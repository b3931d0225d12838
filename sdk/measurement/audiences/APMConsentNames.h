#pragma once

#include <cstdint>
#include <string_view>

// The names of consent types and statuses as the configuration and the consent state use them.
// Header-only, so the stores below the audience evaluation can use them without linking it.

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
