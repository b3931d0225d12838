#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "sdk/promises/VPLPromise.h"

// Runs at most one operation at a time: while the promise of the running operation is pending,
// every caller gets that same promise; once it settles the next call starts a new operation.
//
// All members may be called from any thread; the pending promise is guarded by a recursive
// mutex, held while the handler runs, so the handler may itself ask this cache on its thread.
class DUDUrareravuzersSingleOperationPromiseCache {
  public:
    using NewOperationHandler = std::function<VPLPromise::Ptr()>;

    // Raises RZDException "NSInvalidArgumentException" with "`newOperationHandler` must not be
    // `nil`." when `newOperationHandler` is empty.
    explicit DUDUrareravuzersSingleOperationPromiseCache(NewOperationHandler newOperationHandler);

    DUDUrareravuzersSingleOperationPromiseCache(
        const DUDUrareravuzersSingleOperationPromiseCache&) = delete;
    DUDUrareravuzersSingleOperationPromiseCache& operator=(
        const DUDUrareravuzersSingleOperationPromiseCache&) = delete;

    // The running operation's promise, or a new operation's when none runs. The slot is
    // cleared on the promise library's default queue once the promise settles, before any
    // continuation the caller attaches afterwards on that queue.
    VPLPromise::Ptr getExistingPendingOrCreateNewPromise();

    // The running operation's promise; null when none runs.
    VPLPromise::Ptr getExistingPendingPromise() const;

  private:
    // Shared with the clearing continuations, which may outlive the cache.
    struct Slot {
        std::recursive_mutex mutex;
        VPLPromise::Ptr pendingPromise;  // guarded by mutex
    };

    const NewOperationHandler newOperationHandler_;
    const std::shared_ptr<Slot> slot_ = std::make_shared<Slot>();
};
