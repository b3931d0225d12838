#include "sdk/measurement/engine/APMVoviduServiceFileUtil.h"

#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "platform/bundle/Bundle.h"
#include "platform/preferences/PlistCodec.h"

namespace {
constexpr std::uintmax_t kMaxServiceFileBytes = 1 << 20;
}  // namespace

std::optional<std::filesystem::path> APMVoviduServiceFileUtil::voviduServiceInfoPlistPath() {
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return std::nullopt;
    }
    std::filesystem::path path = bundle->resourcesPath() / "VoviduService-Info.plist";
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return std::nullopt;
    }
    return path;
}

std::optional<platform::PlistDictionary>
APMVoviduServiceFileUtil::dictionaryFromVoviduServiceInfoPlist() {
    const std::optional<std::filesystem::path> path = voviduServiceInfoPlistPath();
    if (!path) {
        return std::nullopt;
    }
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(*path, error);
    if (error || size > kMaxServiceFileBytes) {
        return std::nullopt;
    }
    std::ifstream in(*path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    if (!in && !in.eof()) {
        return std::nullopt;
    }
    const std::optional<platform::PlistValue> value = platform::decodePlist(bytes);
    const auto* dictionary = value ? value->getIf<platform::PlistDictionary>() : nullptr;
    if (dictionary == nullptr) {
        return std::nullopt;
    }
    return *dictionary;
}
