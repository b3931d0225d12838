#include "platform/app/Application.h"

#include <utility>

namespace platform {

Application& Application::shared() {
    static Application application;
    return application;
}

Application::DelegateRef Application::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

void Application::setDelegate(DelegateRef delegate) {
    DelegateRef old;
    std::shared_ptr<const ObserverList> observers;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(delegate_, delegate);
        observers = observers_;
    }
    // Outside the lock: an observer may read or set the delegate, or remove itself.
    for (const auto& [token, observer] : *observers) {
        (*observer)(old, delegate);
    }
    // The previous delegate is released here, after the observers, not under the lock: its
    // destructor may call back into the application.
}

Application::ObserverToken Application::addDelegateObserver(DelegateObserver observer) {
    std::lock_guard lock(mutex_);
    auto next = std::make_shared<ObserverList>(*observers_);
    const ObserverToken token = nextToken_++;
    next->emplace(token, std::make_shared<const DelegateObserver>(std::move(observer)));
    observers_ = std::move(next);
    return token;
}

void Application::removeDelegateObserver(ObserverToken token) {
    std::lock_guard lock(mutex_);
    if (observers_->count(token) == 0) {
        return;
    }
    auto next = std::make_shared<ObserverList>(*observers_);
    next->erase(token);
    observers_ = std::move(next);
}

}  // namespace platform
