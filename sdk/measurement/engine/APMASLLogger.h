#pragma once

#include <cstdint>
#include <string_view>

// The bridge from the monitor to the shared logger (VDULogger): maps monitor levels to logger
// levels and writes one line "<version> - <tag>[I-ACS<code, six digits>] <message>" under the
// subsystem "com.vovidu.razudizo.analytics". Stateless; safe from any thread.
class APMASLLogger {
  public:
    // Writes `message` exactly as given (percent signs are not format directives), with `tag`
    // as category, forced only for monitor level 7 (debug lines print even when the logger's
    // level would hide them).
    void logMessage(std::string_view message, std::string_view logTag, std::int64_t messageCode,
                    std::int64_t logLevel) const;

    // Monitor level -> logger level: 0-2 error (3), 3-5 warning (4), 6 notice (5), 7 and 8
    // debug (7); any other level warning (4).
    static std::int64_t VDULoggerLevelFromLogLevel(std::int64_t logLevel);
};
