#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

// Gzip compression and expansion of byte buffers with zlib. Stateless, synchronous, on the
// caller's thread; both functions may run on many threads at once.

inline constexpr std::string_view kVDUNSDataZlibErrorDomain = "com.vovidu.VDUNSDataZlibErrorDomain";
// User-info key of the zlib status (a signed integer) in errors of code 1025.
inline constexpr std::string_view kVDUNSDataZlibErrorKey = "VDUNSDataZlibErrorKey";
// User-info key of the count of unconsumed input bytes in errors of code 1026.
inline constexpr std::string_view kVDUNSDataZlibRemainingBytesKey =
    "VDUNSDataZlibRemainingBytesKey";

enum VDUNSDataZlibErrorCode : std::int64_t {
    // The input does not fit zlib's 32-bit length (compression only).
    VDUNSDataZlibErrorGreaterThan32BitsToCompress = 1024,
    // zlib reported a failure.
    VDUNSDataZlibErrorInternal = 1025,
    // The compressed stream ended while input was left over (expansion only).
    VDUNSDataZlibErrorDataRemaining = 1026,
};

// Compresses `data` into one complete gzip stream (default level, deflate, 32 KiB window,
// gzip header and trailer). Returns no value for empty input (without an error), and on
// failure, storing through `error`, when it is not null, error 1024 (input longer than
// 4,294,967,295 bytes) or 1025 (zlib failure, with its status).
std::optional<sdk::Bytes> vdu_dataByGzippingData(const sdk::Bytes& data, sdk::Error* error);

// The most vdu_dataByInflatingGzippedData gives when the caller names no limit: the largest
// reply a request may receive.
inline constexpr std::size_t kVDUDefaultMaxInflatedSize = 16u << 20;

// Expands a gzip or zlib stream (the wrapper is detected). Returns no value, without an error,
// for empty input or input longer than 4,294,967,295 bytes. On failure returns no value and,
// when `error` is not null, stores error 1025 (zlib failure, with its status and, when zlib
// gave one, its message) or 1026 (the stream ended with input left over, with the count).
// Output beyond `maxOutput` bytes is a failure, found before more than `maxOutput` bytes are
// held: error 1025 with status Z_BUF_ERROR (-5) and a message naming the limit.
std::optional<sdk::Bytes> vdu_dataByInflatingGzippedData(
    const sdk::Bytes& data, sdk::Error* error, std::size_t maxOutput = kVDUDefaultMaxInflatedSize);
