#include "platform/dispatch/DispatchTimer.h"

#include <utility>

namespace platform {

namespace {

// The first tick after now of a timer that ticks at `deadline` with period `interval`, on the
// deadline's own clock, keeping the timer's phase. The deadline lies ahead of now only when the
// wall clock was set back: the next tick is then at most one period away, not where the old
// clock would have put it.
Deadline nextTick(Deadline deadline, Clock::duration interval) {
    const Deadline now = deadline.now();
    if (deadline > now) {
        const auto ahead = (deadline.ticks - now.ticks - 1) / interval.count();
        return deadline.plus(-interval * ahead);
    }
    const Deadline next = deadline.plus(interval);
    if (next > now) {
        return next;
    }
    const auto missed = (now.ticks - deadline.ticks) / interval.count();
    return deadline.plus(interval * (missed + 1));
}

}  // namespace

DispatchTimer::DispatchTimer(QueueRef queue, Block handler)
    : state_(std::make_shared<State>(std::move(queue), std::move(handler))) {}

DispatchTimer::~DispatchTimer() {
    cancel();
}

void DispatchTimer::schedule(Clock::duration delay, Clock::duration interval) {
    start(Deadline::monotonic(deadlineAfter(delay)), interval);
}

void DispatchTimer::scheduleAt(WallClock::time_point first, Clock::duration interval) {
    start(Deadline::wall(first), interval);
}

void DispatchTimer::start(Deadline first, Clock::duration interval) {
    std::optional<DeadlineScheduler::Key> previous;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        generation = ++state_->generation;
        state_->armed = true;
        state_->interval = interval > Clock::duration::zero() ? interval : Clock::duration::zero();
        previous = std::exchange(state_->entry, std::nullopt);
    }
    if (previous) {
        DeadlineScheduler::shared().cancel(*previous);
    }
    // The first tick stays where it was asked for, even far ahead.
    arm(state_, first, generation, Clock::duration::zero());
}

void DispatchTimer::cancel() {
    std::optional<DeadlineScheduler::Key> previous;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->generation;
        state_->armed = false;
        previous = std::exchange(state_->entry, std::nullopt);
    }
    if (previous) {
        DeadlineScheduler::shared().cancel(*previous);
    }
}

bool DispatchTimer::isScheduled() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->armed;
}

void DispatchTimer::arm(const std::shared_ptr<State>& state, Deadline deadline,
                        std::uint64_t generation, Clock::duration period) {
    std::weak_ptr<State> weak = state;
    const DeadlineScheduler::Key key = DeadlineScheduler::shared().schedule(
        deadline, [weak, deadline, generation] { fire(weak, deadline, generation); }, period);
    bool stale = false;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->generation == generation && state->armed) {
            state->entry = key;
        } else {
            stale = true;  // cancelled or rescheduled meanwhile
        }
    }
    if (stale) {
        DeadlineScheduler::shared().cancel(key);
    }
}

// Runs on the scheduler thread: queues the handler unless it is still waiting on the queue or
// running (then the tick is merged) and, for a repeating timer, arms the next tick. Called
// before its deadline when the wall clock was set back: then it only arms the next tick.
void DispatchTimer::fire(const std::weak_ptr<State>& weak, Deadline deadline,
                         std::uint64_t generation) {
    std::shared_ptr<State> state = weak.lock();
    if (!state) {
        return;
    }
    const bool early = deadline > deadline.now();
    std::optional<Deadline> next;
    Clock::duration interval{};
    bool queueHandler = false;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->generation != generation || !state->armed) {
            return;
        }
        state->entry.reset();
        interval = state->interval;
        if (interval > Clock::duration::zero()) {
            next = nextTick(deadline, interval);
        } else {
            state->armed = false;  // only a repeating tick is ever called early
        }
        if (!early) {
            if (state->running) {
                state->tickWhileRunning = generation;
            } else if (state->queuedGeneration != generation) {
                state->queuedGeneration = generation;
                queueHandler = true;
            }
        }
    }
    if (next) {
        arm(state, *next, generation, interval);
    }
    if (queueHandler) {
        state->queue->async([weak, generation] { runHandler(weak, generation); });
    }
}

void DispatchTimer::runHandler(const std::weak_ptr<State>& weak, std::uint64_t generation) {
    std::shared_ptr<State> state = weak.lock();
    if (!state) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->queuedGeneration == generation) {
            state->queuedGeneration = 0;  // ticks from now on queue the handler again
        }
        if (state->generation != generation) {
            return;
        }
        if (state->running) {
            state->tickWhileRunning = generation;  // an earlier generation's run is not over
            return;
        }
        state->running = true;
    }
    state->handler();
    std::uint64_t again = 0;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->running = false;
        const std::uint64_t ticked = std::exchange(state->tickWhileRunning, 0);
        if (ticked != 0 && ticked == state->generation && state->queuedGeneration != ticked) {
            // The ticks that came during the run, merged into one run after it.
            state->queuedGeneration = ticked;
            again = ticked;
        }
    }
    if (again != 0) {
        state->queue->async([weak, again] { runHandler(weak, again); });
    }
}

}  // namespace platform
