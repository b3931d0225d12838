#include "sdk/utilities/VDUNotificationCenter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace vdu_notification_detail {

// One registration. Design notes:
// 1. `active` goes from true to false once, in remove(); a block starts only while active.
// 2. `running` counts the calls of `block` in progress on all threads; remove() waits until
//    the only calls left are those of its own thread (a block removing its own observer).
struct Observer {
    std::uint64_t id = 0;
    std::optional<std::string> name;
    const void* sender = nullptr;
    VDUNotificationCenter::Block block;

    std::mutex mutex;
    std::condition_variable idle;
    bool active = true;  // guarded by mutex
    int running = 0;     // guarded by mutex

    bool matches(const VDUNotification& notification) const {
        return (!name || *name == notification.name) &&
               (sender == nullptr || sender == notification.sender);
    }
};

struct CenterState {
    std::mutex mutex;
    std::uint64_t nextID = 1;                          // guarded by mutex
    std::vector<std::shared_ptr<Observer>> observers;  // guarded by mutex; registration order

    void remove(std::uint64_t id);
};

namespace {

// The observers whose blocks run on this thread now, innermost last.
thread_local std::vector<const Observer*> tDelivering;

void deliver(Observer& observer, const VDUNotification& notification) {
    {
        std::lock_guard lock(observer.mutex);
        if (!observer.active) {
            return;
        }
        ++observer.running;
    }
    tDelivering.push_back(&observer);
    struct Done {
        Observer& observer;
        ~Done() {
            tDelivering.pop_back();
            std::lock_guard lock(observer.mutex);
            --observer.running;
            observer.idle.notify_all();
        }
    } done{observer};
    observer.block(notification);
}

}  // namespace

void CenterState::remove(std::uint64_t id) {
    std::shared_ptr<Observer> observer;
    {
        std::lock_guard lock(mutex);
        auto it = std::find_if(observers.begin(), observers.end(),
                               [id](const auto& o) { return o->id == id; });
        if (it == observers.end()) {
            return;
        }
        observer = std::move(*it);
        observers.erase(it);
    }
    const auto own =
        static_cast<int>(std::count(tDelivering.begin(), tDelivering.end(), observer.get()));
    std::unique_lock lock(observer->mutex);
    observer->active = false;
    observer->idle.wait(lock, [&] { return observer->running == own; });
}

}  // namespace vdu_notification_detail

using vdu_notification_detail::CenterState;
using vdu_notification_detail::Observer;

VDUObserverToken& VDUObserverToken::operator=(VDUObserverToken&& other) noexcept {
    if (this != &other) {
        remove();
        center_ = std::move(other.center_);
        id_ = other.id_;
    }
    return *this;
}

void VDUObserverToken::remove() {
    if (std::shared_ptr<CenterState> center = std::move(center_)) {
        center->remove(id_);
    }
}

VDUNotificationCenter::VDUNotificationCenter() : state_(std::make_shared<CenterState>()) {}

VDUNotificationCenter& VDUNotificationCenter::defaultCenter() {
    static VDUNotificationCenter* const center = new VDUNotificationCenter();  // lives until exit
    return *center;
}

VDUObserverToken VDUNotificationCenter::addObserverForName(std::optional<std::string> name,
                                                           const void* sender, Block block) {
    auto observer = std::make_shared<Observer>();
    observer->name = std::move(name);
    observer->sender = sender;
    observer->block = std::move(block);
    std::lock_guard lock(state_->mutex);
    observer->id = state_->nextID++;
    state_->observers.push_back(observer);
    return VDUObserverToken(state_, observer->id);
}

void VDUNotificationCenter::postNotification(const VDUNotification& notification) {
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(state_->mutex);
        for (const std::shared_ptr<Observer>& observer : state_->observers) {
            if (observer->matches(notification)) {
                matching.push_back(observer);
            }
        }
    }
    for (const std::shared_ptr<Observer>& observer : matching) {
        vdu_notification_detail::deliver(*observer, notification);
    }
}

void VDUNotificationCenter::postNotificationName(std::string name, const void* sender,
                                                 sdk::Value::Dictionary userInfo) {
    postNotification(VDUNotification{std::move(name), sender, std::move(userInfo)});
}
