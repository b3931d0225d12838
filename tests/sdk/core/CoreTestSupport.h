#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/bundle/Bundle.h"
#include "platform/preferences/PlistCodec.h"
#include "platform/preferences/PlistValue.h"
#include "tests/support/TempDir.h"

namespace sdktest {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at a private folder for the whole test process, so
// the standard user defaults (opened once, on first use) never reach the user's own files. An
// object of this class is made by a static initialiser before main() in each test file that
// includes this header.
class IsolatedUserFolders {
  public:
    IsolatedUserFolders() {
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
    }
    const std::filesystem::path& path() const { return dir_.path(); }

    static IsolatedUserFolders& instance() {
        static IsolatedUserFolders folders;
        return folders;
    }

  private:
    cb::testsupport::TempDir dir_{"cb-core-user"};
};

inline const bool kUserFoldersIsolated = (IsolatedUserFolders::instance(), true);

// The standard suite's file in the isolated folder (the test binaries run outside a bundle, so
// the suite is the fallback identifier; a fixture main bundle set later does not change it).
inline std::filesystem::path standardSuiteFile() {
    return IsolatedUserFolders::instance().path() / "config" / "cellarbright" /
           (std::string(platform::kFallbackBundleIdentifier) + ".plist");
}

// A fixture bundle "<folder>/<name>.app" with `info` as its Info.plist and, when given, `options`
// as "Contents/Resources/VoviduService-Info.plist" (written as it is).
inline std::filesystem::path makeFixtureBundle(const std::filesystem::path& folder,
                                               const std::string& name,
                                               const platform::PlistDictionary& info,
                                               const std::string* options = nullptr) {
    const std::filesystem::path bundle = folder / (name + ".app");
    std::filesystem::create_directories(bundle / "Contents" / "Resources");
    std::ofstream(bundle / "Contents" / "Info.plist", std::ios::binary)
        << platform::encodeXmlPlist(info);
    if (options != nullptr) {
        std::ofstream(bundle / "Contents" / "Resources" / "VoviduService-Info.plist",
                      std::ios::binary)
            << *options;
    }
    return bundle;
}

// Runs `command` through the shell and returns what it wrote to stdout (and stderr when the
// command redirects it).
inline std::string runCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    return output;
}

}  // namespace sdktest
