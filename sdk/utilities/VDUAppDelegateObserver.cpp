#include "sdk/utilities/VDUAppDelegateObserver.h"

#include "sdk/utilities/DOZAruZizorudeZadazudu.h"

VDUAppDelegateObserver& VDUAppDelegateObserver::sharedInstance() {
    static VDUAppDelegateObserver& observer =
        *new VDUAppDelegateObserver();  // lives for the process
    return observer;
}

void VDUAppDelegateObserver::observeUIApplication() {
    std::lock_guard lock(mutex_);
    if (isObserving_) {
        return;
    }
    token_ = DOZAruZizorudeZadazudu::sharedApplication().addDelegateObserver(
        [this](const platform::Application::DelegateRef& oldDelegate,
               const platform::Application::DelegateRef& newDelegate) {
            delegateChanged(oldDelegate, newDelegate);
        });
    isObserving_ = true;
}

bool VDUAppDelegateObserver::isObserving() const {
    std::lock_guard lock(mutex_);
    return isObserving_;
}

void VDUAppDelegateObserver::delegateChanged(
    const platform::Application::DelegateRef& oldDelegate,
    const platform::Application::DelegateRef& newDelegate) {
    if (newDelegate == oldDelegate || !DOZAruZizorudeZadazudu::isProxyOrOriginal(oldDelegate)) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (!isObserving_) {
            return;  // a report that was already under way when observing stopped
        }
        DOZAruZizorudeZadazudu::sharedApplication().removeDelegateObserver(token_);
        isObserving_ = false;
    }
    DOZAruZizorudeZadazudu::dropOriginalDelegate();
}
