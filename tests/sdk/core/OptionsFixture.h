#pragma once

#include <plist/plist.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

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

// A Resources folder for ZEDOre::TEST_setResourcesDirectory, removed with the object.
class OptionsFixture {
  public:
    const std::filesystem::path& resources() const { return dir_.path(); }
    std::filesystem::path optionsPath() const { return dir_ / "VoviduService-Info.plist"; }

    // Writes an options list of string entries.
    void writeOptions(const std::map<std::string, std::string>& entries,
                      PlistFormat format = PlistFormat::xml) const {
        plist_t root = plist_new_dict();
        for (const auto& [key, value] : entries) {
            plist_dict_set_item(root, key.c_str(), plist_new_string(value.c_str()));
        }
        writePlist(root, optionsPath(), format);
    }

    // Writes `text` as the options file, as it is.
    void writeRaw(const std::string& text) const {
        std::ofstream(optionsPath(), std::ios::binary) << text;
    }

  private:
    cb::testsupport::TempDir dir_{"cb-options"};
};

}  // namespace sdktest
