#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The running program's command line as the kernel keeps it in /proc/self/cmdline: the program
// name first, then each argument, in order. At most 4 MiB are read (the kernel's own limit on a
// command line is smaller); a file that cannot be read gives an empty list. Read on every call;
// safe from any thread.
std::vector<std::string> processArguments();

// Test hook: makes processArguments() answer `arguments` (nullopt restores the real command
// line). Safe from any thread.
void TEST_setProcessArguments(std::optional<std::vector<std::string>> arguments);

}  // namespace platform
