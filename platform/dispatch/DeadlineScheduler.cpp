#include "platform/dispatch/DeadlineScheduler.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <limits>
#include <system_error>
#include <vector>

#include "platform/dispatch/ThreadStart.h"

namespace platform {

namespace {

constexpr std::int64_t kMaxTicks = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinTicks = std::numeric_limits<std::int64_t>::min();

}  // namespace

Deadline Deadline::monotonic(Clock::time_point time) {
    return Deadline{
        Kind::kMonotonic,
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count()};
}

Deadline Deadline::wall(WallClock::time_point time) {
    return Deadline{
        Kind::kWall,
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count()};
}

Deadline Deadline::now() const {
    return kind == Kind::kWall ? wall(wallClockNow()) : monotonic(Clock::now());
}

Deadline Deadline::plus(Clock::duration delta) const {
    const std::int64_t d = std::chrono::duration_cast<std::chrono::nanoseconds>(delta).count();
    Deadline moved = *this;
    if (d > 0 && ticks > kMaxTicks - d) {
        moved.ticks = kMaxTicks;
    } else if (d < 0 && ticks < kMinTicks - d) {
        moved.ticks = kMinTicks;
    } else {
        moved.ticks = ticks + d;
    }
    return moved;
}

DeadlineScheduler& DeadlineScheduler::shared() {
    // Never destroyed: its thread keeps waiting while the process exits.
    static DeadlineScheduler* const scheduler = new DeadlineScheduler();
    return *scheduler;
}

DeadlineScheduler::Key DeadlineScheduler::schedule(Deadline deadline, std::function<void()> fire,
                                                   Clock::duration period) {
    bool start = false;
    Key key;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        key = Key{deadline, nextSequence_++};
        entriesOf(deadline.kind)
            .emplace(Position(deadline.ticks, key.sequence), Entry{std::move(fire), period});
        if (!threadStarted_) {
            threadStarted_ = true;
            start = true;
        }
    }
    if (start) {
        startThread();
    } else {
        // The new entry may be the earliest: the thread works out its wait again.
        changed_.notify_one();
    }
    return key;
}

void DeadlineScheduler::startThread() {
    try {
        startDetachedThread([this] { run(); });
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "Dispatch: the timer thread could not be started (%s); retrying\n",
                     e.what());
        std::lock_guard<std::mutex> lock(mutex_);
        threadStarted_ = false;
    }
}

bool DeadlineScheduler::cancel(const Key& key) {
    Entries::node_type dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = entriesOf(key.deadline.kind).extract(Position(key.deadline.ticks, key.sequence));
    // `dropped` may own the last reference to a queue; it is destroyed after the unlock.
    return !dropped.empty();
}

void DeadlineScheduler::wallClockChanged() {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_one();
}

void DeadlineScheduler::noticeWallClockMovedBack() {
    const std::int64_t now = Deadline::wall(wallClockNow()).ticks;
    const bool movedBack = now < lastWallTicks_;
    lastWallTicks_ = now;
    if (!movedBack) {
        return;
    }
    std::vector<Entries::node_type> early;
    for (auto it = wallEntries_.begin(); it != wallEntries_.end();) {
        const Clock::duration period = it->second.period;
        const auto next = std::next(it);
        if (period > Clock::duration::zero() &&
            it->first.first - now > std::chrono::nanoseconds(period).count()) {
            early.push_back(wallEntries_.extract(it));
        }
        it = next;
    }
    for (Entries::node_type& node : early) {
        node.key().first = now;  // due at once, in their order of scheduling
        wallEntries_.insert(std::move(node));
    }
}

DeadlineScheduler::Entries::node_type DeadlineScheduler::takeDue() {
    const bool monotonicDue = !entries_.empty() && entries_.begin()->first.first <=
                                                       Deadline::monotonic(Clock::now()).ticks;
    const bool wallDue = !wallEntries_.empty() &&
                         wallEntries_.begin()->first.first <= Deadline::wall(wallClockNow()).ticks;
    if (monotonicDue && wallDue) {
        // Both due: the one scheduled first goes first.
        const bool wallFirst = wallEntries_.begin()->first.second < entries_.begin()->first.second;
        return wallFirst ? wallEntries_.extract(wallEntries_.begin())
                         : entries_.extract(entries_.begin());
    }
    if (monotonicDue) {
        return entries_.extract(entries_.begin());
    }
    if (wallDue) {
        return wallEntries_.extract(wallEntries_.begin());
    }
    return {};
}

Clock::time_point DeadlineScheduler::wakeTime() const {
    const Clock::time_point now = Clock::now();
    // Far deadlines are waited for in slices, keeping the wait's arithmetic in range.
    Clock::duration wait = std::chrono::hours(1);
    if (!entries_.empty()) {
        const std::int64_t remaining =
            entries_.begin()->first.first - Deadline::monotonic(now).ticks;
        wait = std::min(wait, Clock::duration(std::chrono::nanoseconds(remaining)));
    }
    if (!wallEntries_.empty()) {
        const std::int64_t remaining =
            wallEntries_.begin()->first.first - Deadline::wall(wallClockNow()).ticks;
        wait = std::min({wait, kWallRecheck, Clock::duration(std::chrono::nanoseconds(remaining))});
    }
    return now + std::max(wait, Clock::duration::zero());
}

void DeadlineScheduler::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (entries_.empty() && wallEntries_.empty()) {
            changed_.wait(lock);
            continue;
        }
        noticeWallClockMovedBack();
        Entries::node_type due = takeDue();
        if (due.empty()) {
            changed_.wait_until(lock, wakeTime());
            continue;
        }
        lock.unlock();
        due.mapped().fire();
        due = {};  // the function's captures are released outside the lock
        lock.lock();
    }
}

}  // namespace platform
