#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sdk/utilities/VDUReachabilityApi.h"

class VDUReachabilityChecker;

// Statuses of a checker.
enum VDUReachabilityStatus : std::int32_t {
    VDUReachabilityStatusUnknown = 0,       // before the first reading, and after stop
    VDUReachabilityStatusNotConnected = 1,  //
    VDUReachabilityStatusConnected = 2,     //
    VDUReachabilityStatusCellular = 3,      // never derived here
};

// Told when a checker's status changes, on the main queue.
class VDUReachabilityDelegate {
  public:
    virtual ~VDUReachabilityDelegate() = default;
    virtual void reachability(VDUReachabilityChecker& checker, std::int32_t status) = 0;
};

// Watches whether one host can be reached and tells its delegate when the status derived from
// the readings changes.
//
// Design notes:
// 1. Invariant: reachability() is not null exactly while running (isActive()).
// 2. States: made (status 0) -> start() -> running -> stop() or destruction -> made, status 0.
//    start() while running only logs and answers true. No status is read at start: it stays
//    0 until the first reading.
// 3. Readings arrive on the main queue through the API table's callback, whose info is the
//    checker; the default table drops readings still queued when the checker stops.
//
// Thread-safety: meant for the main thread (start, stop and setReachabilityApi from one
// thread; readings arrive on the main queue). Nothing is locked.
class VDUReachabilityChecker {
  public:
    // Makes a checker for `host` with the default API table, status 0, not running. An empty
    // host is refused: logs "Invalid host specified" (I-REA902001) and returns null.
    static std::unique_ptr<VDUReachabilityChecker> create(
        std::weak_ptr<VDUReachabilityDelegate> delegate, std::string_view host);

    // Clears the delegate, then stops.
    ~VDUReachabilityChecker();

    VDUReachabilityChecker(const VDUReachabilityChecker&) = delete;
    VDUReachabilityChecker& operator=(const VDUReachabilityChecker&) = delete;

    // Starts watching. Returns false, without a log line, when the table makes no object;
    // false with "Failed to start reachability handle" (I-REA902002) when the callback or the
    // schedule is refused; else logs "Monitoring the network status" (I-REA902003, debug) and
    // returns true, also when already running.
    bool start();

    // When running: status 0 (the delegate is not told), unschedules and releases the object.
    void stop();

    // 1 when the reachable bit (0x2) is clear; 2 when reachable and no connection is required
    // (0x4); with a connection required, 2 when the connection comes on traffic or on demand
    // (0x28) and no intervention is required (0x10); else 1.
    std::int32_t statusForFlags(std::uint32_t flags) const;

    // Derives the status from `flags`; when it differs from the stored one, logs it (debug,
    // I-REA902004), stores it and tells the delegate.
    void reachabilityFlagsChanged(std::uint32_t flags);

    std::int32_t reachabilityStatus() const { return reachabilityStatus_; }
    const VDUReachabilityApi* reachabilityApi() const { return reachabilityApi_; }
    // Refused with an error log (I-REA902000) while running.
    void setReachabilityApi(const VDUReachabilityApi* api);
    VDUReachabilityRef reachability() const { return reachability_.get(); }
    const std::string& host() const { return host_; }
    std::weak_ptr<VDUReachabilityDelegate> reachabilityDelegate() const {
        return reachabilityDelegate_;
    }
    // Held weakly; an expired pointer clears it.
    void setReachabilityDelegate(std::weak_ptr<VDUReachabilityDelegate> delegate) {
        reachabilityDelegate_ = std::move(delegate);
    }
    bool isActive() const { return reachability_ != nullptr; }

  private:
    VDUReachabilityChecker(std::weak_ptr<VDUReachabilityDelegate> delegate, std::string host);

    using ObjectPtr = std::unique_ptr<void, void (*)(VDUReachabilityRef)>;

    std::int32_t reachabilityStatus_ = VDUReachabilityStatusUnknown;
    const VDUReachabilityApi* reachabilityApi_;
    ObjectPtr reachability_{nullptr, nullptr};
    const std::string host_;
    std::weak_ptr<VDUReachabilityDelegate> reachabilityDelegate_;
};
