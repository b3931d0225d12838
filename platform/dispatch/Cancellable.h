#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "platform/dispatch/DeadlineScheduler.h"

namespace platform {

// A handle to one block scheduled with `DispatchQueue::after`. Copies share the same block.
// A default-made handle refers to nothing; cancelling it does nothing.
class Cancellable {
  public:
    Cancellable() = default;

    // Stops the block from running, unless it has started already. Called on the block's own
    // queue, it guarantees the block never runs afterwards. Releases the block (and what it
    // captured) early when it has not yet been handed to its queue. Thread-safe; idempotent.
    void cancel() const;

    // Returns true once `cancel` has been called on this handle or a copy.
    bool isCancelled() const;

  private:
    friend class DispatchQueue;

    struct State {
        std::atomic<bool> cancelled{false};
        // Written once, before the handle is given out.
        std::optional<DeadlineScheduler::Key> key;
    };

    explicit Cancellable(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::shared_ptr<State> state_;
};

}  // namespace platform
