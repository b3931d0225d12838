#pragma once

#include <cstdint>

// Random numbers for identifiers and screen instance IDs.
class APMNumericUtil {
  public:
    APMNumericUtil() = delete;

    // A 64-bit integer from 8 bytes of the system's secure random generator. When the generator
    // fails, logs 26004 (level 5) with the generator's error text and returns 0.
    // Thread-safe.
    static std::int64_t randomInt64();
};
