#include "sdk/utilities/OperatingSystemVersion.h"

#include <sys/utsname.h>

#include <charconv>
#include <fstream>
#include <limits>

namespace sdk {

namespace {

// Reads up to three dot-separated numbers from the start of `text`. Returns false when it
// does not start with a digit.
bool parseVersionNumbers(std::string_view text, OperatingSystemVersion* out) {
    std::int64_t* parts[] = {&out->majorVersion, &out->minorVersion, &out->patchVersion};
    *out = OperatingSystemVersion();
    std::size_t position = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const char* begin = text.data() + position;
        const char* end = text.data() + text.size();
        if (begin == end || *begin < '0' || *begin > '9') {
            return i > 0;
        }
        auto [next, ec] = std::from_chars(begin, end, *parts[i]);
        if (ec == std::errc::result_out_of_range) {
            *parts[i] = std::numeric_limits<std::int64_t>::max();
            while (next != end && *next >= '0' && *next <= '9') {
                ++next;
            }
        }
        position = static_cast<std::size_t>(next - text.data());
        if (position >= text.size() || text[position] != '.') {
            return true;
        }
        ++position;
    }
    return true;
}

// The value of VERSION_ID in os-release text, without quotes; empty when absent.
std::string_view versionIdOf(std::string_view text) {
    constexpr std::string_view kKey = "VERSION_ID=";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (line.substr(0, kKey.size()) == kKey) {
            std::string_view value = line.substr(kKey.size());
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            return value;
        }
        start = end + 1;
    }
    return {};
}

std::string readSmallFile(const char* path) {
    std::ifstream in(path);
    std::string text(64 * 1024, '\0');  // os-release is tiny; read a bounded prefix
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

}  // namespace

OperatingSystemVersion operatingSystemVersionFrom(std::string_view osReleaseText,
                                                  std::string_view kernelRelease) {
    OperatingSystemVersion version;
    if (parseVersionNumbers(versionIdOf(osReleaseText), &version)) {
        return version;
    }
    if (parseVersionNumbers(kernelRelease, &version)) {
        return version;
    }
    return OperatingSystemVersion();
}

OperatingSystemVersion currentOperatingSystemVersion() {
    std::string osRelease = readSmallFile("/etc/os-release");
    if (osRelease.empty()) {
        osRelease = readSmallFile("/usr/lib/os-release");
    }
    struct utsname names {};
    const std::string kernel = uname(&names) == 0 ? std::string(names.release) : std::string();
    return operatingSystemVersionFrom(osRelease, kernel);
}

std::string formatOperatingSystemVersion(const OperatingSystemVersion& version) {
    std::string text =
        std::to_string(version.majorVersion) + "." + std::to_string(version.minorVersion);
    if (version.patchVersion != 0) {
        text += "." + std::to_string(version.patchVersion);
    }
    return text;
}

}  // namespace sdk
