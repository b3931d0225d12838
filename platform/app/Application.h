#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/app/ApplicationDelegate.h"

namespace platform {

// The running application, in place of the platform's shared application object: it has one
// delegate, which the program sets at start and which code may replace later, and it reports
// every assignment of its delegate to observers (as key-value observation of "delegate" with
// the old and the new value).
//
// Unlike the platform's weak delegate reference, the application keeps its delegate alive: a
// delegate that wraps another (see the SDK's app-delegate proxy) is an object of its own that
// nothing else holds.
//
// Thread-safety: every member may be called from any thread. Delegate calls and changes are
// expected on the UI thread; changes made on two threads at once may reach observers in either
// order.
class Application {
  public:
    using DelegateRef = std::shared_ptr<ApplicationDelegate>;

    // Receives the delegate before and after an assignment (either may be null; they are equal
    // when the same delegate is set again).
    using DelegateObserver =
        std::function<void(const DelegateRef& oldDelegate, const DelegateRef& newDelegate)>;

    // Identifies one observer for removeDelegateObserver.
    using ObserverToken = std::uint64_t;

    // The process's application; it exists for the whole process (there are no app extensions
    // here).
    static Application& shared();

    // The current delegate; null before the program sets one.
    DelegateRef delegate() const;

    // Makes `delegate` (null allowed) the delegate, then tells every observer, in the order they
    // were added, on the calling thread. An exception thrown by an observer reaches the caller;
    // the new delegate stays set and later observers are not told.
    void setDelegate(DelegateRef delegate);

    // Adds `observer` for every later assignment and returns its token.
    ObserverToken addDelegateObserver(DelegateObserver observer);

    // Removes the observer of `token`; unknown tokens are ignored. An observer may remove itself
    // while it is being told. An assignment already being reported on another thread may still
    // reach the removed observer.
    void removeDelegateObserver(ObserverToken token);

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

  private:
    Application() = default;

    using ObserverList = std::map<ObserverToken, std::shared_ptr<const DelegateObserver>>;

    mutable std::mutex mutex_;
    DelegateRef delegate_;  // guarded by mutex_
    // guarded by mutex_; replaced, never changed, so a report runs over the list as it was when
    // the report began
    std::shared_ptr<const ObserverList> observers_ = std::make_shared<const ObserverList>();
    ObserverToken nextToken_ = 1;  // guarded by mutex_
};

}  // namespace platform
