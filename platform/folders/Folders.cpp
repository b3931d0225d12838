#include "platform/folders/Folders.h"

#include <cstdlib>

namespace platform {

std::filesystem::path applicationSupportFolder() {
    // The base-directory rules ignore relative values: they would depend on the working folder.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return std::filesystem::path(data);
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr && home[0] != '\0' ? home : "/") / ".local" /
           "share";
}

}  // namespace platform
