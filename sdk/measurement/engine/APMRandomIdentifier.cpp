#include "sdk/measurement/engine/APMRandomIdentifier.h"

#include <array>
#include <stdexcept>

#include "sdk/utilities/VDURandomBytes.h"

std::string APMRandomIdentifier() {
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
