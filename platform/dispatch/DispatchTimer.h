#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DeadlineScheduler.h"
#include "platform/dispatch/DispatchQueue.h"

namespace platform {

// A one-shot or repeating timer whose handler runs on a queue, in place of a libdispatch timer
// source. It starts unarmed; `schedule` arms it, `cancel` or destruction disarms it.
//
// States and moves:
//   unarmed --schedule, scheduleAt--> armed --fire (one-shot)--> unarmed
//   armed --schedule, scheduleAt--> armed (the earlier schedule is forgotten)
//   armed --cancel / ~DispatchTimer--> unarmed
// Each `schedule` and `cancel` starts a new generation; a firing of an older generation that
// is already on its way to the queue is dropped there, so after `cancel` returns on the
// timer's queue the handler never runs again. From another thread, a handler that has already
// started may still be running.
//
// A repeating timer keeps its phase: ticks are `delay + n * interval` from `schedule`, and
// ticks that have passed unseen (a stalled process) are skipped, not fired in a burst. The
// handler never runs concurrently with itself, even on a concurrent queue: ticks are merged
// while the handler is still queued or running. A queue blocked for many intervals runs the
// handler once when it is free again, not once per tick; ticks during a run give one more run
// right after it.
//
// A timer armed with `scheduleAt` counts on the wall clock (see Clock.h), so its ticks are not
// late after a system sleep, and come sooner when the clock is set forward; when the clock is
// set back, its next tick is moved back too, on the same phase, to at most one interval away
// (the first tick excepted: it stays at the time asked for). `schedule` counts on the
// monotonic clock.
//
// Thread-safety: every member function may be called from any thread, and from the handler.
class DispatchTimer {
  public:
    // Makes an unarmed timer that runs `handler` on `queue`.
    DispatchTimer(QueueRef queue, Block handler);

    // Disarms the timer.
    ~DispatchTimer();

    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    // Arms the timer: the handler runs `delay` from now and then, when `interval` is above
    // zero, every `interval`. Replaces an earlier schedule.
    void schedule(Clock::duration delay, Clock::duration interval = Clock::duration::zero());

    // Like `schedule`, with the first tick at the wall-clock time `first` (at once when it has
    // passed) and the later ones every `interval` after it on the wall clock.
    void scheduleAt(WallClock::time_point first,
                    Clock::duration interval = Clock::duration::zero());

    // Disarms the timer. Idempotent.
    void cancel();

    // Returns true while the timer is armed (a one-shot timer is disarmed when it fires).
    bool isScheduled() const;

  private:
    struct State {
        explicit State(QueueRef q, Block h) : queue(std::move(q)), handler(std::move(h)) {}
        const QueueRef queue;
        const Block handler;
        std::mutex mutex;
        std::uint64_t generation = 0;                 // guarded by mutex
        bool armed = false;                           // guarded by mutex
        Clock::duration interval{};                   // guarded by mutex
        std::optional<DeadlineScheduler::Key> entry;  // guarded by mutex
        // The generation of the handler block waiting on the queue; 0 when none waits.
        std::uint64_t queuedGeneration = 0;  // guarded by mutex
        bool running = false;                // guarded by mutex: the handler runs now
        // The generation of a tick that came while the handler ran; 0 when none came.
        std::uint64_t tickWhileRunning = 0;  // guarded by mutex
    };

    void start(Deadline first, Clock::duration interval);
    // `period`: how far ahead a wall-clock tick may lie before it is moved back (zero: never).
    static void arm(const std::shared_ptr<State>& state, Deadline deadline,
                    std::uint64_t generation, Clock::duration period);
    static void fire(const std::weak_ptr<State>& weak, Deadline deadline, std::uint64_t generation);
    static void runHandler(const std::weak_ptr<State>& weak, std::uint64_t generation);

    std::shared_ptr<State> state_;
};

}  // namespace platform
