#include "sdk/core/heartbeat/Storage.h"

namespace heartbeat {

sdk::Error makeError(StorageError error) {
    return error == StorageError::readError ? sdk::Error(kStorageErrorDomain, 0, "readError")
                                            : sdk::Error(kStorageErrorDomain, 1, "writeError");
}

}  // namespace heartbeat
