#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sdk {

// The operating system's version as three numbers, like the platform's process-info record.
struct OperatingSystemVersion {
    std::int64_t majorVersion = 0;
    std::int64_t minorVersion = 0;
    std::int64_t patchVersion = 0;
};

// Reads the version from the text of an os-release file (its VERSION_ID, "12" or "22.04"),
// falling back to a kernel release such as "6.1.0-18-amd64" when there is no usable
// VERSION_ID. Missing or unreadable parts are 0; numbers too large for int64 saturate.
OperatingSystemVersion operatingSystemVersionFrom(std::string_view osReleaseText,
                                                  std::string_view kernelRelease);

// The running system's version, from /etc/os-release (or /usr/lib/os-release) and uname.
OperatingSystemVersion currentOperatingSystemVersion();

// "major.minor", then ".patch" when the patch number is not 0: 14.0.0 gives "14.0", 13.6.1
// gives "13.6.1".
std::string formatOperatingSystemVersion(const OperatingSystemVersion& version);

}  // namespace sdk
