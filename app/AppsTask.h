#pragma once

#include <atomic>

namespace cb {

// The task building the applications list and measuring their bundles. Cancelling it stops
// its measurements and drops every result it has not applied yet. Any thread.
class AppsTask {
  public:
    void cancel() { cancelled_.store(true, std::memory_order_release); }
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    // The stop flag handed to the services.
    const std::atomic<bool>* stopFlag() const { return &cancelled_; }

  private:
    std::atomic<bool> cancelled_{false};
};

}  // namespace cb
