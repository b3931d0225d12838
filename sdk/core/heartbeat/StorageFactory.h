#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "sdk/core/heartbeat/Storage.h"

namespace heartbeat {

// Chooses the back end and location of a heartbeat store.
class StorageFactory {
  public:
    StorageFactory() = delete;

    // The folder under Application Support that holds the heartbeat files.
    static constexpr const char* kFolderName = "vovidu-heartbeat-storage";

    // "heartbeats-" + `id` with every ":" replaced by "_". "/" and NUL, which cannot stay in one
    // file name, are replaced by "_" as well, so no id reaches outside the folder.
    static std::string fileName(const std::string& id);

    // A FileStorage for "<Application Support>/vovidu-heartbeat-storage/<fileName(id)>".
    // Application Support is read at the call (platform/folders).
    static std::unique_ptr<Storage> makeStorage(const std::string& id);
};

}  // namespace heartbeat
