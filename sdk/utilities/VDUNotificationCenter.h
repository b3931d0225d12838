#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

// One posted notification: a name, the object that posted it (compared by address only, never
// dereferenced; nullptr for none) and its user info.
struct VDUNotification {
    std::string name;
    const void* sender = nullptr;
    sdk::Value::Dictionary userInfo;
};

class VDUNotificationCenter;

namespace vdu_notification_detail {
struct CenterState;
}  // namespace vdu_notification_detail

// An observer's registration. Removing it (remove() or destruction) stops further deliveries:
// once remove() returns, the observer's block is not running on any other thread and will not
// be called again. Removing from inside the observer's own block is allowed; that call then
// returns at once, while the block finishes. Move-only.
class VDUObserverToken {
  public:
    VDUObserverToken() = default;
    ~VDUObserverToken() { remove(); }
    VDUObserverToken(VDUObserverToken&& other) noexcept
        : center_(std::move(other.center_)), id_(other.id_) {}
    VDUObserverToken& operator=(VDUObserverToken&& other) noexcept;
    VDUObserverToken(const VDUObserverToken&) = delete;
    VDUObserverToken& operator=(const VDUObserverToken&) = delete;

    // Ends the registration; later calls do nothing. Safe from any thread.
    // REQUIRES: not called while the calling thread holds a lock that this observer's block,
    // running on another thread, waits for.
    void remove();

    // True until remove().
    bool isRegistered() const { return center_ != nullptr; }

  private:
    friend class VDUNotificationCenter;
    VDUObserverToken(std::shared_ptr<vdu_notification_detail::CenterState> center, std::uint64_t id)
        : center_(std::move(center)), id_(id) {}

    // The center's state, kept alive by every token; null once removed.
    std::shared_ptr<vdu_notification_detail::CenterState> center_;
    std::uint64_t id_ = 0;
};

// Delivers notifications to observers registered by name and, optionally, by sender.
//
// A post is delivered synchronously on the posting thread to every observer registered at the
// moment of the post whose name matches (or that registered for every name) and whose sender
// matches (or that registered for any sender), in the order they registered. No lock is held
// while a block runs, so a block may post, add observers or remove observers (itself included)
// on the same center. Observers added during a post do not receive that post; an observer
// removed during a post receives nothing more.
//
// All members are safe to call from any thread.
class VDUNotificationCenter {
  public:
    using Block = std::function<void(const VDUNotification&)>;

    VDUNotificationCenter();
    VDUNotificationCenter(const VDUNotificationCenter&) = delete;
    VDUNotificationCenter& operator=(const VDUNotificationCenter&) = delete;

    // The process-wide center, in place of the platform's default notification center.
    static VDUNotificationCenter& defaultCenter();

    // Registers `block` for posts of `name` (nullopt: every name) from `sender` (nullptr: any
    // sender). The registration lasts until the returned token is removed or destroyed.
    [[nodiscard]] VDUObserverToken addObserverForName(std::optional<std::string> name,
                                                      const void* sender, Block block);

    // Delivers `notification` as described above; returns once every matching block returned.
    void postNotification(const VDUNotification& notification);

    // postNotification with a notification made of the three parts.
    void postNotificationName(std::string name, const void* sender,
                              sdk::Value::Dictionary userInfo = {});

  private:
    std::shared_ptr<vdu_notification_detail::CenterState> state_;
};
