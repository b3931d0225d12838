#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"

class APMAlarm;
class APMPrivateSetMembershipClient;

// The engine's state of private-set-membership matching for this app run (made when a client
// library is present, replaced by a wipe). Nothing here is persisted: the request counters live
// in user properties.
//
// Design notes.
// Invariants: (1) isPSMRequestInProgress while a query is on the network and until its answer
// is handled; (2) PSMClient is the client of the current initiation, null after an answered
// query found or ruled out a match; (3) sessionStartTimestamp is 0 unless a session started
// the request.
//
// Thread-safety: used on the engine's worker queue only.
class APMPSMContext {
  public:
    static constexpr std::string_view kRetryAlarmName = "On-device conversion measurement timer";

    APMPSMContext();
    ~APMPSMContext();
    APMPSMContext(const APMPSMContext&) = delete;
    APMPSMContext& operator=(const APMPSMContext&) = delete;

    // The retry alarm on `workerQueue`, made on first use.
    APMAlarm& PSMRetryAlarm(const platform::QueueRef& workerQueue);
    // The retry alarm when one was made, else null.
    APMAlarm* existingPSMRetryAlarm() const { return PSMRetryAlarm_.get(); }

    bool isPSMRequestInProgress = false;
    bool isPSMRequestPostponed = false;
    // Initiations in this app run.
    std::int64_t PSMStartCount = 0;
    // Retries of the current initiation.
    std::int64_t PSMRetryCount = 0;
    std::shared_ptr<APMPrivateSetMembershipClient> PSMClient;
    // Seconds since 1970 of the session that started the request; 0 when no session did.
    double sessionStartTimestamp = 0;

  private:
    std::unique_ptr<APMAlarm> PSMRetryAlarm_;
};
