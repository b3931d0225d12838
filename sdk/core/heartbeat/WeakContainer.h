#pragma once

#include <memory>

namespace heartbeat {

// Holds an object weakly: it never keeps the object alive and yields nothing once it is gone.
// No lock of its own; the store cache reads and replaces containers under its cache lock.
template <typename Object>
struct WeakContainer {
    std::weak_ptr<Object> object;

    // The object while it lives, else nullptr.
    std::shared_ptr<Object> get() const { return object.lock(); }
};

}  // namespace heartbeat
