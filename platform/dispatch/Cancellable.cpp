#include "platform/dispatch/Cancellable.h"

namespace platform {

void Cancellable::cancel() const {
    if (!state_) {
        return;
    }
    state_->cancelled.store(true, std::memory_order_release);
    if (state_->key) {
        DeadlineScheduler::shared().cancel(*state_->key);
    }
}

bool Cancellable::isCancelled() const {
    return state_ && state_->cancelled.load(std::memory_order_acquire);
}

}  // namespace platform
