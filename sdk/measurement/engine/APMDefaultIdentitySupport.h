#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"

// What a platform identity support tells the engine: the advertising identifier, the
// limited-ad-tracking information, the tracking-authorisation status and the app data consent
// status. Linux has none; tests give a support object this role.
class APMIdentitySupport {
  public:
    virtual ~APMIdentitySupport() = default;
    virtual bool hasAppDataConsentStatus() = 0;
    virtual std::int64_t appDataConsentStatus() = 0;
    // Whether the support reports limited-ad-tracking information (by default not).
    virtual bool hasLimitedAdTracking() { return false; }
    // The tracking-authorisation status (0 not determined, 1 restricted, 2 denied,
    // 3 authorised); none (the default) when the platform reports none.
    virtual std::optional<std::int64_t> trackingAuthorizationStatus() { return std::nullopt; }
    // The resettable advertising identifier; none (the default) when unavailable.
    virtual std::optional<std::string> resettableDeviceID() { return std::nullopt; }
};

// The engine's front for the optional platform identity support. On Linux there is no such
// support: made without one, it logs 44003 once and answers no advertising identifier.
//
// Thread-safety: every member may be called from any thread; support_ and deviceID_ are
// guarded by mutex_.
class APMDefaultIdentitySupport {
  public:
    // The all-zero advertising identifier a platform reports when tracking is limited.
    static constexpr std::string_view kZeroIdentifier = "00000000-0000-0000-0000-000000000000";

    // The one instance, made on first use.
    static APMDefaultIdentitySupport& sharedInstance();

    // Forwarded to the support; false without one.
    bool hasAppDataConsentStatus();
    // Forwarded to the support; -1 without one (always on Linux).
    std::int64_t appDataConsentStatus();
    // Forwarded to the support; false without one.
    bool hasLimitedAdTracking();
    // Forwarded to the support; none without one.
    std::optional<std::int64_t> trackingAuthorizationStatus();
    // True when resettableDeviceID() is none or the all-zero identifier.
    bool limitedAdTracking();
    // The platform has tracking authorisation.
    static bool iOS14OrAbove() { return true; }
    // None without support. With one, the support is asked on the support queue; the caller
    // waits at most 10 ms for the answer and returns the last one received (possibly from an
    // earlier call).
    std::optional<std::string> resettableDeviceID();

  private:
    // Tests install a support object through it, as if one had been linked
    // (tests/sdk/measurement/engine/APMDefaultIdentitySupportTestPeer.h).
    friend class APMDefaultIdentitySupportTestPeer;

    APMDefaultIdentitySupport();
    std::shared_ptr<APMIdentitySupport> support();

    const platform::QueueRef queue_;
    std::mutex mutex_;
    std::condition_variable deviceIDArrived_;
    std::shared_ptr<APMIdentitySupport> support_;  // guarded by mutex_
    std::optional<std::string> deviceID_;          // guarded by mutex_
    std::uint64_t deviceIDAnswers_ = 0;            // guarded by mutex_
};
