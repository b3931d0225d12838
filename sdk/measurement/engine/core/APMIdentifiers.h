#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

// A thin shared front to the engine's identifiers for other SDK parts. The identity it asks is
// the engine's while the engine exists, else APMIdentity::sharedInstance().
//
// Thread-safety: every member may be called from any thread; origin_ is guarded by mutex_.
class APMIdentifiers {
  public:
    static APMIdentifiers& sharedInstance();

    // The measurement app ID; "" (logging 37000 or 37001) when there is none.
    std::string voviduAppID();
    // The same ID; "" (logging 37005) when it is empty.
    std::string analyticsAppID();
    // The app instance ID; "" (logging 37002 or 37003) when there is none.
    std::string appInstanceID();
    // A process-wide counter seeded once with a random value; each call returns the current
    // value and counts up by one.
    std::string adEventID();
    // The library version number as text ("111500").
    static std::string libraryVersion();

    std::optional<std::string> origin();
    // An empty origin is refused (37004).
    void setOrigin(const std::string& origin);

  private:
    APMIdentifiers();

    std::atomic<std::int64_t> adEventCounter_;
    std::mutex mutex_;
    std::optional<std::string> origin_;  // guarded by mutex_
};
