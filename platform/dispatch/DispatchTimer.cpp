#include "platform/dispatch/DispatchTimer.h"

#include <utility>

namespace platform {

namespace {

Clock::time_point addSaturating(Clock::time_point t, Clock::duration d) {
    return d > Clock::time_point::max() - t ? Clock::time_point::max() : t + d;
}

// The first tick after `now` of a timer that ticked at `deadline` with period `interval`.
Clock::time_point nextTick(Clock::time_point deadline, Clock::duration interval,
                           Clock::time_point now) {
    Clock::time_point next = addSaturating(deadline, interval);
    if (next > now) {
        return next;
    }
    const auto missed = (now - deadline) / interval;
    return addSaturating(deadline, interval * (missed + 1));
}

}  // namespace

DispatchTimer::DispatchTimer(QueueRef queue, Block handler)
    : state_(std::make_shared<State>(std::move(queue), std::move(handler))) {}

DispatchTimer::~DispatchTimer() {
    cancel();
}

void DispatchTimer::schedule(Clock::duration delay, Clock::duration interval) {
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
    arm(state_, deadlineAfter(delay), generation);
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

void DispatchTimer::arm(const std::shared_ptr<State>& state, Clock::time_point deadline,
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

// Runs on the scheduler thread: queues the handler and, for a repeating timer, the next tick.
void DispatchTimer::fire(const std::weak_ptr<State>& weak, Clock::time_point deadline,
                         std::uint64_t generation) {
    std::shared_ptr<State> state = weak.lock();
    if (!state) {
        return;
    }
    std::optional<Clock::time_point> next;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->generation != generation || !state->armed) {
            return;
        }
        state->entry.reset();
        if (state->interval > Clock::duration::zero()) {
            next = nextTick(deadline, state->interval, Clock::now());
        } else {
            state->armed = false;
        }
    }
    if (next) {
        arm(state, *next, generation);
    }
    state->queue->async([weak, generation] {
        std::shared_ptr<State> current = weak.lock();
        if (!current) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(current->mutex);
            if (current->generation != generation) {
                return;
            }
        }
        current->handler();
    });
}

}  // namespace platform
