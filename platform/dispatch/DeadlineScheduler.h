#pragma once

#include <compare>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

#include "platform/dispatch/Clock.h"

namespace platform {

// A point in time on the monotonic clock or on the wall clock.
struct Deadline {
    enum class Kind : std::uint8_t { kMonotonic, kWall };
    Kind kind = Kind::kMonotonic;
    std::int64_t ticks = 0;  // nanoseconds since the clock's epoch

    static Deadline monotonic(Clock::time_point time);
    static Deadline wall(WallClock::time_point time);
    // The same clock's present time.
    Deadline now() const;
    // This deadline moved by `delta`, saturating at the clock's range.
    Deadline plus(Clock::duration delta) const;
    auto operator<=>(const Deadline&) const = default;
};

// One thread that calls functions at deadlines. Internal to the dispatch layer:
// `DispatchQueue::after`, `DispatchQueue::at` and `DispatchTimer` use it to hand a block to its
// queue when it is due, so the fired function only enqueues and returns.
//
// Monotonic deadlines are waited for on the monotonic clock. Wall-clock deadlines are checked
// against wallClockNow() at least every kWallRecheck, so a deadline that passed while the
// system slept (or because the wall clock was set forward) fires soon after.
//
// Entries due at the same time fire in the order they were scheduled. The scheduler is a
// process-wide singleton that is never destroyed (its thread may outlive static destruction).
// When its thread cannot be started, entries wait and the next `schedule` tries again.
class DeadlineScheduler {
  public:
    // Identifies one scheduled entry.
    struct Key {
        Deadline deadline;
        std::uint64_t sequence = 0;
        auto operator<=>(const Key&) const = default;
    };

    static constexpr Clock::duration kWallRecheck = std::chrono::seconds(1);

    // Returns the process-wide scheduler. Thread-safe.
    static DeadlineScheduler& shared();

    // Calls `fire` on the scheduler thread at or after `deadline`. `fire` must be quick and
    // must not throw. Thread-safe.
    //
    // With a `period` above zero, for a wall-clock deadline: when the wall clock is set back so
    // that the deadline lies more than `period` ahead, `fire` is called at once, before its
    // deadline (a repeating timer's next tick must then be worked out again; `fire` tells by
    // comparing its deadline with the clock). The entry's key is gone from then on, as if it
    // had fired.
    Key schedule(Deadline deadline, std::function<void()> fire,
                 Clock::duration period = Clock::duration::zero());
    Key schedule(Clock::time_point deadline, std::function<void()> fire) {
        return schedule(Deadline::monotonic(deadline), std::move(fire));
    }

    // Drops the entry `key` unless it has fired already; its function is destroyed on the
    // calling thread. Returns true when the entry was dropped. Thread-safe.
    bool cancel(const Key& key);

    // Makes the thread look at the wall clock again now (it was set). Thread-safe.
    void wallClockChanged();

    DeadlineScheduler(const DeadlineScheduler&) = delete;
    DeadlineScheduler& operator=(const DeadlineScheduler&) = delete;

  private:
    using Position = std::pair<std::int64_t, std::uint64_t>;  // (ticks, sequence)
    struct Entry {
        std::function<void()> fire;
        Clock::duration period{};  // wall entries: how far ahead they may lie (see schedule)
    };
    using Entries = std::map<Position, Entry>;

    DeadlineScheduler() = default;
    void startThread();
    void run();
    Entries& entriesOf(Deadline::Kind kind) {
        return kind == Deadline::Kind::kWall ? wallEntries_ : entries_;
    }
    // The due entry to fire first, or null; REQUIRES: mutex_ held.
    Entries::node_type takeDue();
    // How long the thread may sleep; REQUIRES: mutex_ held and an entry present.
    Clock::time_point wakeTime() const;
    // When the wall clock went back since the last look, makes the wall entries that now lie
    // more than their period ahead due. REQUIRES: mutex_ held.
    void noticeWallClockMovedBack();

    std::mutex mutex_;
    std::condition_variable changed_;
    Entries entries_;                 // guarded by mutex_ (monotonic deadlines)
    Entries wallEntries_;             // guarded by mutex_ (wall-clock deadlines)
    std::uint64_t nextSequence_ = 0;  // guarded by mutex_
    bool threadStarted_ = false;      // guarded by mutex_
    // The wall clock's time at the thread's last look (ticks).
    std::int64_t lastWallTicks_ = std::numeric_limits<std::int64_t>::min();  // guarded by mutex_
};

}  // namespace platform
