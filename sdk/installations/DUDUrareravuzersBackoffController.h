#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "sdk/utilities/Date.h"

// What the service made of the last request.
enum class DUDUrareravuzersBackoffEvent : std::int64_t {
    success = 0,
    recoverableFailure = 1,    // worth retrying soon: 5xx, 429 and the like
    unrecoverableFailure = 2,  // a configuration problem: 400, 403
};

// One run of events of the same type. Immutable; the wait it imposes is drawn once, when it is
// made.
class DUDUrareravuzersBackoffEventData {
  public:
    // The longest wait after recoverable failures, and the wait after an unrecoverable one.
    static constexpr double kMaxRecoverableBackoff = 1800.0;
    static constexpr double kUnrecoverableBackoff = 86400.0;

    // `eventCount` is the number of consecutive events of `eventType` (1 or more).
    DUDUrareravuzersBackoffEventData(DUDUrareravuzersBackoffEvent eventType,
                                     sdk::Date lastEventDate, std::int64_t eventCount);

    DUDUrareravuzersBackoffEvent eventType() const { return eventType_; }
    sdk::Date lastEventDate() const { return lastEventDate_; }
    std::int64_t eventCount() const { return eventCount_; }
    // Seconds during which requests are held back after lastEventDate(): 0 after a success;
    // min(2^count + a random 0.000-0.999, 1800) after recoverable failures; 86400 after an
    // unrecoverable one.
    double backoffTimeInterval() const { return backoffTimeInterval_; }

    // A uniform random whole number of milliseconds, 0-999, from the system's secure source.
    static std::int64_t randomMilliseconds();

  private:
    static double intervalFor(DUDUrareravuzersBackoffEvent eventType, std::int64_t eventCount);

    DUDUrareravuzersBackoffEvent eventType_;
    sdk::Date lastEventDate_;
    std::int64_t eventCount_;
    double backoffTimeInterval_;
};

// Holds requests to the installations service back after failures: exponentially growing
// waits after recoverable failures, a day after an unrecoverable one, none after a success.
// The state lives in memory only and starts empty.
//
// All members may be called from any thread; the state is guarded by a recursive mutex.
class DUDUrareravuzersBackoffController {
  public:
    using DateProvider = std::function<sdk::Date()>;

    // With the present moment as the clock.
    DUDUrareravuzersBackoffController();
    // With `currentDateProvider` as the clock (tests step it through the waits).
    // REQUIRES: currentDateProvider is not empty.
    explicit DUDUrareravuzersBackoffController(DateProvider currentDateProvider);

    // True when nothing happened yet or the last event's wait has passed.
    bool isNextRequestAllowed() const;

    // Records an event: one more of the same type as the last, or the first of a new run.
    void registerEvent(DUDUrareravuzersBackoffEvent event);

    // The clock's current date.
    sdk::Date currentDate() const { return currentDateProvider_(); }

    // The last event's data; null when nothing was registered.
    std::shared_ptr<const DUDUrareravuzersBackoffEventData> lastEventData() const;

  private:
    const DateProvider currentDateProvider_;
    mutable std::recursive_mutex mutex_;
    std::shared_ptr<const DUDUrareravuzersBackoffEventData> lastEventData_;  // guarded by mutex_
};
