#include "sdk/measurement/engine/APMIdentity.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>

#include "sdk/measurement/engine/APMMeasurement.h"
#include "sdk/utilities/VDURandomBytes.h"

std::int64_t APMIdentity::divEdadevadezeLibraryVersion() {
    return libraryVersionFromString(kLibraryVersionString);
}

std::int64_t APMIdentity::libraryVersionFromString(std::string_view text) {
    if (text.size() < 4) {
        return 0;
    }
    const std::string_view digits = text.substr(0, text.size() - 3);
    std::int64_t version = 0;
    const auto [end, status] =
        std::from_chars(digits.data(), digits.data() + digits.size(), version);
    return status == std::errc() && end == digits.data() + digits.size() ? version : 0;
}

std::string APMIdentity::randomAppInstanceID() {
    std::array<unsigned char, 16> uuid{};
    if (!VDURandomBytes(uuid.data(), uuid.size())) {
        // The generator refuses only when it cannot be seeded; an ID must still be unique.
        throw std::runtime_error("the secure random generator failed");
    }
    uuid[6] = static_cast<unsigned char>((uuid[6] & 0x0F) | 0x40);  // version 4
    uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string id;
    id.reserve(32);
    for (const unsigned char byte : uuid) {
        id.push_back(kHex[byte >> 4]);
        id.push_back(kHex[byte & 0x0F]);
    }
    return id;
}

std::vector<std::int64_t> APMIdentity::numericFieldsFromAppVersionNumeric(
    std::string_view version) {
    std::vector<std::int64_t> fields;
    std::size_t start = 0;
    while (start <= version.size()) {
        const std::size_t dot = std::min(version.find('.', start), version.size());
        const std::string_view component = version.substr(start, dot - start);
        start = dot + 1;
        if (component.empty()) {
            continue;
        }
        // Any character that is not a decimal digit splits the component; the pieces are joined.
        std::string digits;
        for (const char c : component) {
            if (c >= '0' && c <= '9') {
                digits.push_back(c);
            }
        }
        if (digits.size() != component.size()) {
            APMMeasurement::monitor().logWithLevel(
                5, 20002, "app version numeric has non-numeric characters");
        }
        std::int64_t value = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), value);
        fields.push_back(value);
    }
    return fields;
}
