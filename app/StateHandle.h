#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <type_traits>

namespace cb {

// A handle through which work on other threads reaches an object of the UI thread without
// keeping it alive or touching it after it is gone.
//
// Worker and scanner threads hold the handle (by shared_ptr), never the object itself. post()
// queues a call to the object's thread while the object exists; the object's destructor calls
// invalidate() first, after which post() drops its call. Calls queued before that are discarded
// by Qt when the object is destroyed, so a posted call never runs on a destroyed object.
template <class T>
class StateHandle {
    static_assert(std::is_base_of_v<QObject, T>);

  public:
    // REQUIRES: `target` calls invalidate() at the start of its destructor.
    explicit StateHandle(T* target) : target_(target) {}

    StateHandle(const StateHandle&) = delete;
    StateHandle& operator=(const StateHandle&) = delete;

    // Queues `call` to run with the target on the target's thread, unless invalidate() has run.
    // Returns false when the call was dropped. Any thread.
    bool post(std::function<void(T&)> call) {
        std::lock_guard lock(mutex_);
        if (target_ == nullptr) {
            return false;
        }
        T* target = target_;
        return QMetaObject::invokeMethod(
            target, [target, call = std::move(call)] { call(*target); }, Qt::QueuedConnection);
    }

    // Stops all further posts; waits while a post() of another thread is under way. Called by
    // the target's destructor, on the target's thread.
    void invalidate() {
        std::lock_guard lock(mutex_);
        target_ = nullptr;
    }

  private:
    std::mutex mutex_;
    T* target_;  // guarded by mutex_
};

}  // namespace cb
