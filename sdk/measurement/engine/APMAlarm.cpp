#include "sdk/measurement/engine/APMAlarm.h"

#include <cmath>
#include <utility>

#include "platform/dispatch/Clock.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

constexpr std::int64_t kLevelError = 1;
constexpr std::int64_t kLevelWarning = 4;
constexpr std::int64_t kLevelDebug = 7;

// Wall-clock now + `delay`, with a negative or NaN delay counting as none.
sdk::Date dueDate(double delay) {
    const double now = APMCurrentTimeInterval();
    return sdk::Date::fromTimeIntervalSince1970(std::isnan(delay) || delay < 0 ? now : now + delay);
}

}  // namespace

APMAlarm::APMAlarm(platform::QueueRef queue, std::string name)
    : state_(std::make_shared<State>(std::move(queue), name.empty() ? "Timer" : std::move(name))) {}

APMAlarm::~APMAlarm() {
    cancel(*state_);
}

void APMAlarm::runAfterDelay(double delaySeconds, std::function<void()> block) {
    APMMonitor& monitor = APMMonitor::shared();
    if (!block) {
        monitor.logWithLevel(kLevelError, 2000, state_->name + " tried to schedule an empty block");
        return;
    }
    cancel(*state_);
    {
        std::lock_guard lock(state_->mutex);
        const std::uint64_t generation = ++state_->generation;
        state_->scheduledTimestamp = dueDate(delaySeconds);
        std::weak_ptr<State> weak = state_;
        auto timer = std::make_unique<platform::DispatchTimer>(
            state_->queue,
            [weak, generation, block = std::move(block)] { fire(weak, generation, block); });
        // Logged before the timer is armed: a short delay could otherwise report the firing
        // before the schedule.
        monitor.logWithLevel(kLevelDebug, 2002, state_->name + " scheduled to fire in approx. (s)",
                             delaySeconds);
        timer->schedule(platform::durationFromSeconds(delaySeconds));
        state_->timer = std::move(timer);
        state_->timerActive = true;
    }
}

void APMAlarm::cancel() {
    cancel(*state_);
}

void APMAlarm::cancel(State& state) {
    std::unique_lock lock(state.mutex);
    if (!state.scheduledTimestamp) {
        return;
    }
    finishCancel(state, std::move(lock));
}

void APMAlarm::finishCancel(State& state, std::unique_lock<std::mutex> lock) {
    const bool wasActive = std::exchange(state.timerActive, false);
    state.scheduledTimestamp.reset();
    ++state.generation;  // a firing already on its way finds itself stale
    std::unique_ptr<platform::DispatchTimer> timer = std::move(state.timer);
    lock.unlock();
    // Destroying the timer disarms it; done outside the lock, since its handler may be waiting
    // for that lock on another thread.
    timer.reset();
    APMMonitor& monitor = APMMonitor::shared();
    monitor.logWithLevel(kLevelDebug, 2003, state.name + " canceled");
    if (!wasActive) {
        monitor.logWithLevel(kLevelWarning, 2004, state.name + " is not active");
    }
}

void APMAlarm::fire(const std::weak_ptr<State>& weak, std::uint64_t generation,
                    const std::function<void()>& block) {
    const std::shared_ptr<State> state = weak.lock();
    if (!state) {
        return;
    }
    std::unique_lock lock(state->mutex);
    if (state->generation != generation) {
        return;  // cancelled or rescheduled after this firing was queued
    }
    // Keep the block alive past the cancel, which destroys the timer that owns this handler.
    const std::function<void()> run = block;
    lock.unlock();
    APMMonitor::shared().logWithLevel(kLevelDebug, 2001, state->name + " fired");
    lock.lock();
    if (state->generation != generation) {
        return;  // rescheduled by another thread meanwhile: the new schedule wins
    }
    finishCancel(*state, std::move(lock));
    run();
}

bool APMAlarm::hasActiveTimer() const {
    std::lock_guard lock(state_->mutex);
    return state_->timerActive && state_->timer != nullptr;
}

std::optional<sdk::Date> APMAlarm::scheduledTimestamp() const {
    std::lock_guard lock(state_->mutex);
    return state_->scheduledTimestamp;
}
