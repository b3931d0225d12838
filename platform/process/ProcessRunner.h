#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// How a child's two output streams reach the caller.
enum class OutputStreams {
    // Standard output and standard error share one pipe; both arrive interleaved in `output`.
    combined,
    // Each stream has its own pipe: `output` and `errorOutput`.
    separate,
};

// What a finished (or never started) child process left behind.
struct ProcessResult {
    // False when the child could not be started; then only launchError is set.
    bool launched = false;
    // The system's text for the start failure (e.g. "No such file or directory"), else empty.
    std::string launchError;
    // The system's error number for the start failure (e.g. ENOENT), else 0.
    int launchErrorNumber = 0;
    // Everything the child wrote to standard output (and standard error when combined).
    std::string output;
    // Everything the child wrote to standard error when the streams are separate.
    std::string errorOutput;
    // The exit status when the child exited normally, 128 + signal when it was killed, -1 when it
    // never ran.
    int exitStatus = -1;
};

// Returns `bytes` when it is valid UTF-8, else the empty text. Child output that does not decode
// counts as empty.
std::string utf8OrEmpty(std::string bytes);

// Runs child processes synchronously: the child starts with standard input on /dev/null, the
// caller reads its pipes to their end and then waits for it to exit.
//
// This base runs real processes (posix_spawn). Tests derive from it to intercept run().
// Thread-safe: each call owns its own pipes and child.
class ProcessRunner {
  public:
    virtual ~ProcessRunner() = default;

    // Starts `executable` (an absolute path; no PATH search) with `arguments` (not counting the
    // program name), reads its output to the end and waits for it. Blocks the calling thread for
    // the child's whole life. Never throws for system failures: a child that cannot start gives
    // launched == false and the reason.
    virtual ProcessResult run(const std::string& executable,
                              const std::vector<std::string>& arguments,
                              OutputStreams streams = OutputStreams::combined);

    // The shared runner of real processes. Stateless, so sharing it is safe.
    static ProcessRunner& shared();
};

}  // namespace platform
