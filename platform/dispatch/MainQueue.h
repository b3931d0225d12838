#pragma once

#include <cstddef>
#include <functional>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"

namespace platform {

// The main queue has no thread of its own. The app installs a wakeup hook that posts an event
// to the Qt event loop, whose handler calls `drainMainQueue()` on the UI thread; SDK tests
// call `drainMainQueue()` or `runMainQueueUntil()` from the test's thread instead.

// The main thread is the thread registered to drain the main queue: the UI thread in the app.
// Until a thread registers, it is the process's initial thread (the one that runs main(),
// which drains the main queue in SDK tests).

// Makes the calling thread the main thread. Thread-safe.
void registerMainThread();

// Returns true on the main thread. Thread-safe.
bool isMainThread();

// Installs `wakeup`, called after each block is added to the main queue (also by a timer),
// on the submitting thread, without any dispatch lock held. It must be quick and must not
// throw; it typically posts an event that leads to `drainMainQueue()`. An empty function
// removes the hook. Thread-safe.
void setMainQueueWakeup(std::function<void()> wakeup);

// Runs the blocks queued on the main queue at the time of the call, in order, on the calling
// thread, and returns how many ran. Blocks they add wait for the next call. Another thread
// that drains at the same time waits for this one; a block may drain again (nested).
std::size_t drainMainQueue();

// Drains the main queue, waiting for new blocks (and timers) as they arrive, until `done`
// returns true or `timeout` has passed. `done` is checked on the calling thread before each
// wait. Returns the last result of `done`.
bool runMainQueueUntil(const std::function<bool()>& done, Clock::duration timeout);

// Drains the main queue as blocks arrive during `duration`.
void runMainQueueFor(Clock::duration duration);

}  // namespace platform
