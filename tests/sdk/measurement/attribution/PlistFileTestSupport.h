#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace sdktest {

// Reads the plist file `file` with libplist and returns what `read` makes of the item under `key`
// (null when the key is absent); none when the file cannot be read as a plist.
template <typename T, typename Read>
std::optional<T> readPlistItem(const std::filesystem::path& file, std::string_view key, Read read) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    if (!root) {
        return std::nullopt;
    }
    std::optional<T> result = read(plist_dict_get_item(root, std::string(key).c_str()));
    plist_free(root);
    return result;
}

}  // namespace sdktest
