#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

// Digests of bytes and strings. apm_64LSBMD5 is the engine's fingerprint and checksum function
// (raw-event metadata fingerprints, bundle checksums, purchase fingerprints). Pure functions,
// safe from any thread.

// The 16-byte MD5 digest (RFC 1321) of `bytes`.
sdk::Bytes apm_MD5Data(std::span<const std::uint8_t> bytes);

// The last min(size, 8) bytes of `bytes` read as one big-endian unsigned integer (reinterpreted
// as int64); 0 for no bytes.
std::int64_t apm_64LeastSignificantBits(std::span<const std::uint8_t> bytes);

// apm_64LeastSignificantBits of apm_MD5Data: bytes 9 to 16 of the digest, big-endian.
std::int64_t apm_64LSBMD5(std::span<const std::uint8_t> bytes);

// The MD5 digest of the UTF-8 text as 32 lower-case hexadecimal digits; no value when `text`
// is not valid UTF-8.
std::optional<std::string> apm_MD5String(std::string_view text);
