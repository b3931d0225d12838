#include "sdk/core/heartbeat/StorageFactory.h"

#include <algorithm>

#include "platform/folders/Folders.h"
#include "sdk/core/heartbeat/FileStorage.h"

namespace heartbeat {

std::string StorageFactory::fileName(const std::string& id) {
    std::string name = "heartbeats-" + id;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return c == ':' || c == '/' || c == '\0'; }, '_');
    return name;
}

std::unique_ptr<Storage> StorageFactory::makeStorage(const std::string& id) {
    return std::make_unique<FileStorage>(platform::applicationSupportFolder() / kFolderName /
                                         fileName(id));
}

}  // namespace heartbeat
