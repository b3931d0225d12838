#pragma once

#include <string>

#include "sdk/core/heartbeat/Storage.h"

namespace heartbeat {

// A Storage back end over one entry of a user-defaults suite (platform/preferences). The
// factory never chooses it; it is kept as the alternative back end.
class UserDefaultsStorage final : public Storage {
  public:
    UserDefaultsStorage(std::string suiteName, std::string key)
        : suiteName_(std::move(suiteName)), key_(std::move(key)) {}

    const std::string& suiteName() const { return suiteName_; }
    const std::string& key() const { return key_; }

    // The data stored under the key. readError when the suite cannot be opened or the key
    // holds no data.
    std::optional<StorageError> read(sdk::Bytes* out) override;

    // Stores the data under the key; no data removes the key. Never fails: a suite that cannot
    // be opened or written keeps what it had.
    std::optional<StorageError> write(const std::optional<sdk::Bytes>& data) override;

  private:
    const std::string suiteName_;
    const std::string key_;
};

}  // namespace heartbeat
