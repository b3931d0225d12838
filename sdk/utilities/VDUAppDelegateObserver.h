#pragma once

#include <mutex>

#include "platform/app/Application.h"

// Notices when the application replaces the delegate that the app-delegate proxy wraps, so the
// proxy stops holding a delegate the application no longer uses.
//
// States: idle -> observing (observeUIApplication, after each installation of the proxy) ->
// idle (delegateChanged, when the application sets a different delegate in place of the proxy
// or the original delegate; the proxy then drops its original delegate).
//
// Thread-safety: every member may be called from any thread.
class VDUAppDelegateObserver {
  public:
    // The one observer, made on first use.
    static VDUAppDelegateObserver& sharedInstance();

    // Starts following the shared application's delegate changes, unless already observing.
    void observeUIApplication();

    // Whether it follows the application now.
    bool isObserving() const;

    VDUAppDelegateObserver(const VDUAppDelegateObserver&) = delete;
    VDUAppDelegateObserver& operator=(const VDUAppDelegateObserver&) = delete;

  private:
    VDUAppDelegateObserver() = default;

    // The application's delegate went from `oldDelegate` to `newDelegate`.
    void delegateChanged(const platform::Application::DelegateRef& oldDelegate,
                         const platform::Application::DelegateRef& newDelegate);

    mutable std::mutex mutex_;
    bool isObserving_ = false;                      // guarded by mutex_
    platform::Application::ObserverToken token_{};  // guarded by mutex_; valid while observing
};
