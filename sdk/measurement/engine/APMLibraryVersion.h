#pragma once

#include <cstdint>
#include <string_view>

// The measurement library's version. The monitor keys its health samples with it, the remote
// configuration registers it as the experiment SDK version and programs read it, so it sits
// below the stores; APMIdentity answers with the same values.

// The version as text.
inline constexpr std::string_view kAPMLibraryVersionString = "111500000";

// The version text without its last three characters, as a number (111500); 0 when the text is
// shorter than 4 characters or is not a number. Safe from any thread.
std::int64_t APMLibraryVersionFromString(std::string_view text);

// APMLibraryVersionFromString(kAPMLibraryVersionString). Safe from any thread.
std::int64_t APMLibraryVersion();
