#include "sdk/measurement/engine/APMDigest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>

#include "sdk/measurement/engine/APMStringUtil.h"

sdk::Bytes apm_MD5Data(std::span<const std::uint8_t> bytes) {
    sdk::Bytes digest(16);
    unsigned int length = 0;
    // MD5 cannot fail on bytes in memory; the call only reports allocation failures.
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
        std::fill(digest.begin(), digest.end(), 0);
    }
    return digest;
}

std::int64_t apm_64LeastSignificantBits(std::span<const std::uint8_t> bytes) {
    const std::size_t count = std::min<std::size_t>(bytes.size(), 8);
    std::uint64_t value = 0;
    for (std::uint8_t byte : bytes.last(count)) {
        value = (value << 8) | byte;
    }
    return static_cast<std::int64_t>(value);
}

std::int64_t apm_64LSBMD5(std::span<const std::uint8_t> bytes) {
    return apm_64LeastSignificantBits(apm_MD5Data(bytes));
}

std::optional<std::string> apm_MD5String(std::string_view text) {
    if (!apm_isValidUTF8(text)) {
        return std::nullopt;
    }
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    std::string hex;
    for (std::uint8_t byte : apm_MD5Data({data, text.size()})) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}
