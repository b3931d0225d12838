#include "platform/dispatch/DispatchTimer.h"

#include <utility>

namespace platform {

namespace {

// The first tick after now of a timer that ticked at `deadline` with period `interval`, on the
// deadline's own clock.
Deadline nextTick(Deadline deadline, Clock::duration interval) {
    const Deadline now = deadline.now();
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
    arm(state_, first, generation);
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
                        std::uint64_t generation) {
    std::weak_ptr<State> weak = state;
    const DeadlineScheduler::Key key = DeadlineScheduler::shared().schedule(
        deadline, [weak, deadline, generation] { fire(weak, deadline, generation); });
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

// Runs on the scheduler thread: queues the handler unless it still waits on the queue and, for
// a repeating timer, arms the next tick.
void DispatchTimer::fire(const std::weak_ptr<State>& weak, Deadline deadline,
                         std::uint64_t generation) {
    std::shared_ptr<State> state = weak.lock();
    if (!state) {
        return;
    }
    std::optional<Deadline> next;
    bool queueHandler = false;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->generation != generation || !state->armed) {
            return;
        }
        state->entry.reset();
        if (state->interval > Clock::duration::zero()) {
            next = nextTick(deadline, state->interval);
        } else {
            state->armed = false;
        }
        queueHandler = state->queuedGeneration != generation;
        state->queuedGeneration = generation;
    }
    if (next) {
        arm(state, *next, generation);
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
    }
    state->handler();
}

}  // namespace platform
