#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchTimer.h"
#include "sdk/utilities/Date.h"

// A named one-shot timer whose block runs on a given queue (the upload schedule, engagement,
// retries of reports and fetches).
//
// States and moves:
//   idle --runAfterDelay--> scheduled --fires--> idle (then the block runs)
//   scheduled --runAfterDelay--> scheduled (the pending block is dropped, logs 2003)
//   scheduled --cancel / ~APMAlarm--> idle (logs 2003)
// Invariants: (1) scheduledTimestamp() has a value exactly while scheduled; (2) at most one
// block is pending; (3) a block dropped by cancel or a new schedule never runs afterwards when
// that call was made on the alarm's queue (from another thread, a firing that has already
// started may still run). Firing returns the alarm to idle before the block runs, so the block
// may schedule the alarm again.
//
// The delay counts on the monotonic clock; scheduledTimestamp() is the wall-clock time it was
// due at scheduling. A negative or NaN delay fires at once; a huge one saturates (never fires).
//
// Monitor codes: 2000 (level 1) empty block, 2001 fired, 2002 scheduled, 2003 canceled (level
// 7), 2004 (level 4) canceled without an active timer. Every text starts with the name.
//
// Thread-safety: every member may be called from any thread and from the alarm's own block;
// the state is guarded by a mutex that is never held while logging or running the block.
class APMAlarm {
  public:
    // An idle alarm firing on `queue`; an empty `name` becomes "Timer".
    // REQUIRES: queue is not null.
    APMAlarm(platform::QueueRef queue, std::string name);

    // Cancels.
    ~APMAlarm();

    APMAlarm(const APMAlarm&) = delete;
    APMAlarm& operator=(const APMAlarm&) = delete;

    // Cancels any pending schedule, then runs `block` on the queue after `delaySeconds`. An
    // empty block logs 2000 and changes nothing.
    void runAfterDelay(double delaySeconds, std::function<void()> block);

    // Drops the pending schedule. An idle alarm logs nothing.
    void cancel();

    // True while a timer exists that was not cancelled.
    bool hasActiveTimer() const;

    // When the pending block is due, or no value while idle.
    std::optional<sdk::Date> scheduledTimestamp() const;

    const std::string& name() const { return state_->name; }

  private:
    struct State {
        State(platform::QueueRef q, std::string n) : queue(std::move(q)), name(std::move(n)) {}
        const platform::QueueRef queue;
        const std::string name;
        mutable std::mutex mutex;
        std::unique_ptr<platform::DispatchTimer> timer;  // guarded by mutex
        bool timerActive = false;                        // guarded by mutex
        std::optional<sdk::Date> scheduledTimestamp;     // guarded by mutex
        std::uint64_t generation = 0;                    // guarded by mutex
    };

    static void cancel(State& state);
    // Returns `state` to idle and logs; releases `lock` before logging.
    static void finishCancel(State& state, std::unique_lock<std::mutex> lock);
    static void fire(const std::weak_ptr<State>& weak, std::uint64_t generation,
                     const std::function<void()>& block);

    std::shared_ptr<State> state_;
};
