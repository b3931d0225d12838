#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"

namespace platform {

// Reachability flag of a reading: the host can be reached.
inline constexpr std::uint32_t kReachabilityFlagReachable = 0x2;

// Watches whether one host can be reached, in place of the platform's reachability service.
// A reading is kReachabilityFlagReachable when the host is a loopback host (see
// isLoopbackHost) or the machine has a default route that is up (see hasDefaultRoute), else 0.
//
// Design notes:
// 1. schedule() starts the probe's thread, which reads once at once and then again on every
//    netlink route or link message and every few seconds; the first reading and each change
//    are handed to the callback on the given queue.
// 2. A reading still queued when unschedule() runs, or when the probe is gone, is dropped;
//    unschedule() waits for a callback running on another thread to return.
// 3. States: made -> schedule() -> scheduled -> unschedule() -> made (again schedulable).
//
// Thread-safety: setCallback, schedule and unschedule are meant for one thread; the callback
// may call unschedule() (or destroy the probe's owner) on its own thread.
class ReachabilityProbe {
  public:
    using Callback = std::function<void(std::uint32_t flags)>;

    explicit ReachabilityProbe(std::string host);
    // Unschedules first.
    ~ReachabilityProbe();

    ReachabilityProbe(const ReachabilityProbe&) = delete;
    ReachabilityProbe& operator=(const ReachabilityProbe&) = delete;

    const std::string& host() const { return host_; }

    // Replaces the callback; takes effect for readings handed over later.
    void setCallback(Callback callback);

    // Starts watching; readings go to the callback on `queue` (the main queue when null).
    // Returns false when already scheduled or when the thread cannot start.
    bool schedule(QueueRef queue = nullptr);

    // Stops watching and joins the thread. Returns false when not scheduled.
    bool unschedule();

    // One reading, on the calling thread.
    std::uint32_t readFlags() const;

    // Test hook: makes a scheduled probe read again at once.
    void TEST_rereadNow();

    // Test hook: probes made later read these files in place of /proc/net/route and
    // /proc/net/ipv6_route; empty paths restore those.
    static void TEST_setRouteFiles(std::filesystem::path ipv4, std::filesystem::path ipv6);

  private:
    struct Shared;
    void run(int wakeFd);

    const std::string host_;
    const bool loopback_;
    std::filesystem::path ipv4Routes_;
    std::filesystem::path ipv6Routes_;
    std::shared_ptr<Shared> shared_;  // held weakly by queued readings
    QueueRef queue_;
    std::thread thread_;
    int wakeFd_ = -1;  // eventfd: 1 = read again, a large value = stop
};

}  // namespace platform
