#include "sdk/installations/DUDUrareravuzersSingleOperationPromiseCache.h"

#include <memory>
#include <utility>

#include "sdk/core/RZDException.h"

DUDUrareravuzersSingleOperationPromiseCache::DUDUrareravuzersSingleOperationPromiseCache(
    NewOperationHandler newOperationHandler)
    : newOperationHandler_(std::move(newOperationHandler)) {
    if (!newOperationHandler_) {
        throw RZDException("NSInvalidArgumentException",
                           "`newOperationHandler` must not be `nil`.");
    }
}

VPLPromise::Ptr
DUDUrareravuzersSingleOperationPromiseCache::getExistingPendingOrCreateNewPromise() {
    std::lock_guard lock(slot_->mutex);
    if (slot_->pendingPromise != nullptr) {
        return slot_->pendingPromise;
    }
    VPLPromise::Ptr promise = newOperationHandler_();
    if (promise == nullptr) {
        return nullptr;
    }
    slot_->pendingPromise = promise;
    // The continuations hold the promise weakly (it holds them) and clear the slot only while it
    // still holds this operation.
    const std::weak_ptr<Slot> weakSlot = slot_;
    const std::weak_ptr<VPLPromise> weakPromise = promise;
    auto clear = [weakSlot, weakPromise] {
        const std::shared_ptr<Slot> slot = weakSlot.lock();
        if (slot == nullptr) {
            return;
        }
        std::lock_guard clearLock(slot->mutex);
        if (slot->pendingPromise != nullptr && slot->pendingPromise == weakPromise.lock()) {
            slot->pendingPromise = nullptr;
        }
    };
    promise->observeOnQueue(
        VPLPromise::defaultDispatchQueue(), [clear](const VPLValue&) { clear(); },
        [clear](const sdk::Error&) { clear(); });
    return promise;
}

VPLPromise::Ptr DUDUrareravuzersSingleOperationPromiseCache::getExistingPendingPromise() const {
    std::lock_guard lock(slot_->mutex);
    return slot_->pendingPromise;
}
