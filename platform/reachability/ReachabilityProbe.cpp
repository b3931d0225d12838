#include "platform/reachability/ReachabilityProbe.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <mutex>
#include <optional>

#include "platform/reachability/RouteTable.h"

namespace platform {

namespace {

// Rereads this often even without netlink news (netlink may be unavailable in containers).
constexpr int kRereadMilliseconds = 3000;
constexpr eventfd_t kStopValue = 1u << 20;

std::mutex routeFilesMutex;
std::filesystem::path testIPv4Routes;  // guarded by routeFilesMutex; a test hook
std::filesystem::path testIPv6Routes;  // guarded by routeFilesMutex; a test hook

// A socket that receives route and link changes, or -1.
int openRouteSocket() {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        return -1;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void drain(int fd) {
    std::array<char, 8192> buffer{};
    while (recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
    }
}

}  // namespace

// What a queued reading needs to find out whether it may still be delivered.
struct ReachabilityProbe::Shared {
    std::recursive_mutex mutex;  // held while the callback runs
    bool scheduled = false;      // guarded by mutex
    Callback callback;           // guarded by mutex
};

ReachabilityProbe::ReachabilityProbe(std::string host)
    : host_(std::move(host)),
      loopback_(isLoopbackHost(host_)),
      shared_(std::make_shared<Shared>()) {
    std::lock_guard lock(routeFilesMutex);
    ipv4Routes_ = testIPv4Routes.empty() ? "/proc/net/route" : testIPv4Routes;
    ipv6Routes_ = testIPv6Routes.empty() ? "/proc/net/ipv6_route" : testIPv6Routes;
}

ReachabilityProbe::~ReachabilityProbe() {
    unschedule();
}

void ReachabilityProbe::setCallback(Callback callback) {
    std::lock_guard lock(shared_->mutex);
    shared_->callback = std::move(callback);
}

bool ReachabilityProbe::schedule(QueueRef queue) {
    if (thread_.joinable()) {
        return false;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        return false;
    }
    queue_ = queue ? std::move(queue) : DispatchQueue::main();
    {
        std::lock_guard lock(shared_->mutex);
        shared_->scheduled = true;
    }
    try {
        thread_ = std::thread([this, fd = wakeFd_] { run(fd); });
    } catch (const std::system_error&) {
        std::lock_guard lock(shared_->mutex);
        shared_->scheduled = false;
        close(wakeFd_);
        wakeFd_ = -1;
        return false;
    }
    return true;
}

bool ReachabilityProbe::unschedule() {
    if (!thread_.joinable()) {
        return false;
    }
    {
        std::lock_guard lock(shared_->mutex);  // waits for a callback on another thread
        shared_->scheduled = false;
    }
    eventfd_write(wakeFd_, kStopValue);
    thread_.join();
    close(wakeFd_);
    wakeFd_ = -1;
    return true;
}

std::uint32_t ReachabilityProbe::readFlags() const {
    return loopback_ || hasDefaultRoute(ipv4Routes_, ipv6Routes_) ? kReachabilityFlagReachable : 0u;
}

void ReachabilityProbe::TEST_rereadNow() {
    if (wakeFd_ >= 0) {
        eventfd_write(wakeFd_, 1);
    }
}

void ReachabilityProbe::TEST_setRouteFiles(std::filesystem::path ipv4, std::filesystem::path ipv6) {
    std::lock_guard lock(routeFilesMutex);
    testIPv4Routes = std::move(ipv4);
    testIPv6Routes = std::move(ipv6);
}

void ReachabilityProbe::run(int wakeFd) {
    const int routes = openRouteSocket();
    std::optional<std::uint32_t> reported;
    for (;;) {
        const std::uint32_t flags = readFlags();
        if (reported != flags) {
            reported = flags;
            queue_->async([weak = std::weak_ptr<Shared>(shared_), flags] {
                std::shared_ptr<Shared> shared = weak.lock();
                if (!shared) {
                    return;
                }
                std::lock_guard lock(shared->mutex);
                if (shared->scheduled && shared->callback) {
                    shared->callback(flags);
                }
            });
        }
        std::array<pollfd, 2> waits{pollfd{wakeFd, POLLIN, 0}, pollfd{routes, POLLIN, 0}};
        const int ready = poll(waits.data(), routes >= 0 ? 2 : 1, kRereadMilliseconds);
        if (ready > 0 && (waits[0].revents & POLLIN) != 0) {
            eventfd_t value = 0;
            eventfd_read(wakeFd, &value);
            if (value >= kStopValue) {
                break;
            }
        }
        if (routes >= 0 && (waits[1].revents & POLLIN) != 0) {
            drain(routes);
        }
    }
    if (routes >= 0) {
        close(routes);
    }
}

}  // namespace platform
