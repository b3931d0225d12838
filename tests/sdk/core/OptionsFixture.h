#pragma once

#include <plist/plist.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/bundle/Bundle.h"
#include "sdk/core/VIZUveziza.h"
#include "tests/support/TempDir.h"

namespace sdktest {

// A valid Vovidu app ID of version 1.
inline constexpr const char* kValidAppID = "1:1234567890:ios:0123456789abcdef";

enum class PlistFormat { xml, binary };

// Writes `root` to `path` in `format` and frees it.
inline void writePlist(plist_t root, const std::filesystem::path& path, PlistFormat format) {
    char* data = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::xml) {
        plist_to_xml(root, &data, &length);
    } else {
        plist_to_bin(root, &data, &length);
    }
    std::ofstream(path, std::ios::binary).write(data, length);
    free(data);
    plist_free(root);
}

// A bundle "Fixture.app" whose Info.plist carries `kFixtureBundleID` and whose options list is
// written by the test; made the program's main bundle with use(). Removed with the object.
class OptionsFixture {
  public:
    static constexpr const char* kFixtureBundleID = "com.example.options-fixture";

    OptionsFixture() {
        std::filesystem::create_directories(resources());
        plist_t info = plist_new_dict();
        plist_dict_set_item(info, "CFBundleIdentifier", plist_new_string(kFixtureBundleID));
        writePlist(info, bundle() / "Contents" / "Info.plist", PlistFormat::xml);
    }

    std::filesystem::path bundle() const { return dir_ / "Fixture.app"; }
    std::filesystem::path resources() const { return bundle() / "Contents" / "Resources"; }
    std::filesystem::path optionsPath() const { return resources() / "VoviduService-Info.plist"; }

    // Makes the bundle the main bundle and forgets the default options read so far, so the next
    // ZEDOre::configure() reads this bundle's list.
    void use() const {
        platform::Bundle::TEST_setMainBundle(bundle());
        VIZUveziza::resetDefaultOptions();
    }

    // Writes an options list of string entries.
    void writeOptions(const std::map<std::string, std::string>& entries,
                      PlistFormat format = PlistFormat::xml) const {
        plist_t root = plist_new_dict();
        for (const auto& [key, value] : entries) {
            plist_dict_set_item(root, key.c_str(), plist_new_string(value.c_str()));
        }
        writePlist(root, optionsPath(), format);
    }

  private:
    cb::testsupport::TempDir dir_{"cb-options"};
};

}  // namespace sdktest
