#include "sdk/measurement/engine/APMLibraryVersion.h"

#include <charconv>

std::int64_t APMLibraryVersionFromString(std::string_view text) {
    if (text.size() < 4) {
        return 0;
    }
    const std::string_view digits = text.substr(0, text.size() - 3);
    std::int64_t version = 0;
    const auto [end, status] =
        std::from_chars(digits.data(), digits.data() + digits.size(), version);
    return status == std::errc() && end == digits.data() + digits.size() ? version : 0;
}

std::int64_t APMLibraryVersion() {
    return APMLibraryVersionFromString(kAPMLibraryVersionString);
}
