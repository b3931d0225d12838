#pragma once

// Shared by the store's source files only.

#include <cstdint>
#include <string>
#include <string_view>

#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace apm_sqlite_detail {

// Error codes of the store.
inline constexpr std::int64_t kBadArgument = 1;
inline constexpr std::int64_t kNotOpenOrMalformed = 2;
inline constexpr std::int64_t kSqliteFailure = 3;

// Monitor levels the store logs at.
inline constexpr std::int64_t kLevelError = 1;
inline constexpr std::int64_t kLevelWarning = 4;
inline constexpr std::int64_t kLevelSilentWarning = 5;

inline APMMonitor& monitor() {
    return APMMonitor::shared();
}

// True when `text` contains `word`, compared in ASCII case-insensitively.
bool containsIgnoringCase(std::string_view text, std::string_view word);

// True when `text` begins with `word`, compared in ASCII case-insensitively.
bool startsWithIgnoringCase(std::string_view text, std::string_view word);

// Upper-cases ASCII letters.
std::string asciiUpper(std::string_view text);

}  // namespace apm_sqlite_detail
