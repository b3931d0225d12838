#pragma once

#include <chrono>

namespace cb {

// How long ending the process may wait for the analytics SDK to store what it holds.
inline constexpr std::chrono::milliseconds kAnalyticsExitBudget{2000};

// Ends the process with `code` once the window has closed. The analytics SDK first stores the
// events it still holds and writes its persisted state (for at most kAnalyticsExitBudget; what
// is still on its way then is dropped and counted in its log); then the output is flushed and
// the process ends at once, as the system ends an application that quits, instead of waiting
// for a walker to stop or freeing a scanned tree of millions of nodes on the way out.
[[noreturn]] void endProcess(int code);

}  // namespace cb
