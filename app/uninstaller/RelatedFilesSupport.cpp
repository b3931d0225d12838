#include "app/uninstaller/RelatedFilesSupport.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/preferences/PlistCodec.h"
#include "platform/preferences/PreferencesFileSystem.h"

namespace cb::AppRelatedFiles {

std::string standardisedPath(const std::filesystem::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    return text;
}

std::vector<std::filesystem::path> folderEntries(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> entries;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        entries.push_back(it->path());
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

bool isUuidText(std::string_view text) {
    constexpr std::string_view kShape = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
    if (text.size() != kShape.size()) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (kShape[i] == '-' ? c != '-' : !hex) {
            return false;
        }
    }
    return true;
}

std::optional<platform::PlistDictionary> readPlistDictionaryFile(
    const std::filesystem::path& path) {
    // Only regular files are opened: a named pipe under a plist's name would block the read.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxLibraryPlistSize) {
        return std::nullopt;
    }
    std::string bytes;
    if (platform::systemFileSystem().readFile(path, kMaxLibraryPlistSize, &bytes)) {
        return std::nullopt;
    }
    std::optional<platform::PlistValue> root = platform::decodePlist(bytes);
    const platform::PlistDictionary* dictionary =
        root ? root->getIf<platform::PlistDictionary>() : nullptr;
    if (dictionary == nullptr) {
        return std::nullopt;
    }
    return *dictionary;
}

}  // namespace cb::AppRelatedFiles
