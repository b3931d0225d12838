#pragma once

#include <cstdint>
#include <string_view>

// The engine's identity. For now only the library version it reports; the identifiers
// themselves (app instance ID, device hash, session token) come with the engine.
class APMIdentity {
  public:
    APMIdentity() = delete;

    // The measurement library version as text.
    static constexpr std::string_view kLibraryVersionString = "111500000";

    // The library version without its last three characters, as a number (111500); 0 when the
    // text is shorter than 4 characters. Registered as the experiment SDK version and sent as
    // "vud_version". Safe from any thread.
    static std::int64_t divEdadevadezeLibraryVersion();

    // The rule above for any version text: exposed so the short-text case can be checked.
    static std::int64_t libraryVersionFromString(std::string_view text);
};
