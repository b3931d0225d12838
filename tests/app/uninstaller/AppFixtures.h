#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/preferences/PlistValue.h"

namespace cb::testsupport {

// Writes an application bundle at `bundle` ("X.app"): Contents/Info.plist holding `info` (binary
// when `binary`, else XML) and an empty Contents/MacOS folder. Returns `bundle`.
std::filesystem::path makeAppBundle(const std::filesystem::path& bundle,
                                    const platform::PlistDictionary& info, bool binary = false);

// A bundle with just an identifier (and no executable).
std::filesystem::path makeAppBundle(const std::filesystem::path& bundle,
                                    const std::string& identifier);

// A bundle whose executable "Contents/MacOS/main" is a signed Mach-O file with `groups` as its
// application groups; `info` is completed with "CFBundleIdentifier" and "CFBundleExecutable".
std::filesystem::path makeSignedAppBundle(const std::filesystem::path& bundle,
                                          const std::string& identifier,
                                          const std::vector<std::string>& groups,
                                          platform::PlistDictionary info = {});

// Sets the access time of `path` to `seconds` + `nanoseconds` since the epoch with utimensat
// (without following a final link); throws std::runtime_error on failure.
void setAccessTime(const std::filesystem::path& path, int64_t seconds, long nanoseconds = 0);

// Sets an environment variable for the life of the object and restores the old value after.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

}  // namespace cb::testsupport
