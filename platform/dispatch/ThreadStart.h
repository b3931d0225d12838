#pragma once

#include <functional>

namespace platform {

// How the dispatch layer starts its threads (the worker pool's workers, the deadline
// scheduler's thread). Internal to the dispatch layer, with a hook for fault-injection tests.

// Starts a detached thread that runs `body`. Throws std::system_error, having started nothing,
// when the system refuses a new thread (a process or memory limit). Thread-safe.
void startDetachedThread(std::function<void()> body);

// The signature of a thread starter: runs `body` on a new detached thread or throws.
using ThreadStarter = std::function<void(std::function<void()> body)>;

// Test hook: every later thread start goes through `starter` (which may throw
// std::system_error to refuse it); an empty function restores the real starter. Thread-safe.
void TEST_setThreadStarter(ThreadStarter starter);

}  // namespace platform
