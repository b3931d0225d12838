#pragma once

#include <filesystem>
#include <optional>

#include "platform/preferences/PlistValue.h"

// Finds and reads the app's service file, "VoviduService-Info.plist" in the main bundle's
// resources.
class APMVoviduServiceFileUtil {
  public:
    APMVoviduServiceFileUtil() = delete;

    // The service file in the main bundle, none outside a bundle or when it is not there.
    static std::optional<std::filesystem::path> voviduServiceInfoPlistPath();
    // Its dictionary; none when there is no file, it is larger than 1 MiB, or it is not a
    // property list holding a dictionary.
    static std::optional<platform::PlistDictionary> dictionaryFromVoviduServiceInfoPlist();
};
