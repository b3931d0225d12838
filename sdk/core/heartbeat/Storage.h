#pragma once

#include <optional>

#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

namespace heartbeat {

// The failures of a storage back end; the underlying cause is not kept.
enum class StorageError { readError, writeError };

// The error domain of StorageError values turned into sdk::Error; the code is the case's
// position (0 readError, 1 writeError).
inline constexpr const char* kStorageErrorDomain = "StorageError";

// `error` as an SDK error value.
sdk::Error makeError(StorageError error);

// Where a heartbeat store keeps the bytes of its bundle.
//
// Implementations take no lock: the store calls them from its own serial queue only.
class Storage {
  public:
    virtual ~Storage() = default;

    // Reads the stored bytes into `*out`. Returns StorageError::readError when there is nothing
    // to read or it cannot be read; `*out` is then unchanged.
    [[nodiscard]] virtual std::optional<StorageError> read(sdk::Bytes* out) = 0;

    // Stores `data`; no data stores "nothing" (what that means is the back end's). Returns
    // StorageError::writeError on failure.
    [[nodiscard]] virtual std::optional<StorageError> write(
        const std::optional<sdk::Bytes>& data) = 0;
};

}  // namespace heartbeat
