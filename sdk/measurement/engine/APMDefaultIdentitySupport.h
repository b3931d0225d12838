#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

// What a platform identity support tells the engine. Linux has none; tests install one.
class APMIdentitySupport {
  public:
    virtual ~APMIdentitySupport() = default;
    virtual bool hasAppDataConsentStatus() = 0;
    virtual std::int64_t appDataConsentStatus() = 0;
};

// The engine's front for the optional platform identity support. For now it answers only the
// app data consent status; the advertising identifier comes with the engine.
//
// Thread-safety: every member may be called from any thread; support_ is guarded by mutex_.
class APMDefaultIdentitySupport {
  public:
    // The one instance, made on first use.
    static APMDefaultIdentitySupport& sharedInstance();

    // Forwarded to the support; false without one.
    bool hasAppDataConsentStatus();
    // Forwarded to the support; -1 without one (always on Linux).
    std::int64_t appDataConsentStatus();

    // Test hook: installs `support` (null removes it).
    void TEST_setPlatformSupport(std::shared_ptr<APMIdentitySupport> support);

  private:
    APMDefaultIdentitySupport() = default;
    std::shared_ptr<APMIdentitySupport> support();

    std::mutex mutex_;
    std::shared_ptr<APMIdentitySupport> support_;  // guarded by mutex_
};
