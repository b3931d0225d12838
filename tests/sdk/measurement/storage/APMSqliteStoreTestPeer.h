#pragma once

#include <cstdint>

#include "sdk/measurement/storage/APMSqliteStore.h"

// What tests reach of APMSqliteStore beyond its public interface.
class APMSqliteStoreTestPeer {
  public:
    // How many statements `store` has prepared so far (cache hits do not count), so a test can
    // tell that a repeated statement came from the cache. Serialised with the store's other calls.
    static std::uint64_t preparedStatementCount(const APMSqliteStore& store) {
        return store.preparedStatementCount_;
    }
};
