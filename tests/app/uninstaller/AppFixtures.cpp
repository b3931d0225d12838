#include "tests/app/uninstaller/AppFixtures.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/preferences/PlistCodec.h"
#include "tests/support/Fixtures.h"
#include "tests/support/MachOImage.h"

namespace cb::testsupport {

namespace fs = std::filesystem;

fs::path makeAppBundle(const fs::path& bundle, const platform::PlistDictionary& info, bool binary) {
    makeDir(bundle / "Contents" / "MacOS");
    writeText(bundle / "Contents" / "Info.plist",
              binary ? platform::encodeBinaryPlist(info) : platform::encodeXmlPlist(info));
    return bundle;
}

fs::path makeAppBundle(const fs::path& bundle, const std::string& identifier) {
    return makeAppBundle(bundle, platform::PlistDictionary{{"CFBundleIdentifier", identifier}});
}

fs::path makeSignedAppBundle(const fs::path& bundle, const std::string& identifier,
                             const std::vector<std::string>& groups,
                             platform::PlistDictionary info) {
    info["CFBundleIdentifier"] = identifier;
    info["CFBundleExecutable"] = "main";
    makeAppBundle(bundle, info);
    writeText(bundle / "Contents" / "MacOS" / "main",
              machOImage(MachOSlice{true, false, applicationGroupsPlist(groups)}));
    return bundle;
}

void setAccessTime(const fs::path& path, int64_t seconds, long nanoseconds) {
    const struct timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds}, {0, UTIME_OMIT}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        throw std::runtime_error("utimensat " + path.string() + ": " + std::strerror(errno));
    }
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_) {
        ::setenv(name_.c_str(), old_.c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

}  // namespace cb::testsupport
