#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace cb::testsupport {

// A copy of the system's `sleep` installed as "<folder>/<bundle>/Contents/MacOS/<executable>"
// (`bundle` names the folder, "X.app"),
// with an XML Info.plist holding `identifier` as CFBundleIdentifier and `executable` as
// CFBundleExecutable, started with a long sleep. With Program::termIgnoringShell the executable
// is a copy of the system's `sh` that ignores SIGTERM (the constructor returns once it does) and
// waits in a loop of short sleeps. The process is killed and reaped when the object goes away,
// unless wait() has reaped it already. Throws std::runtime_error when the bundle cannot be made
// or the process does not start.
class BundledProcess {
  public:
    enum class Program { sleep, termIgnoringShell };

    BundledProcess(const std::filesystem::path& folder, const std::string& bundle,
                   const std::string& identifier, const std::string& executable,
                   Program program = Program::sleep);
    ~BundledProcess();

    BundledProcess(const BundledProcess&) = delete;
    BundledProcess& operator=(const BundledProcess&) = delete;

    pid_t pid() const { return pid_; }

    // The ".app" folder.
    const std::filesystem::path& bundlePath() const { return bundlePath_; }

    // Reaps the process once it ends; returns the signal that ended it, or 0 when it exited by
    // itself. A process still running after `timeout` is killed and reaped, and -1 is returned,
    // so a test that expected it to end fails instead of hanging.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  private:
    std::filesystem::path bundlePath_;
    pid_t pid_ = -1;
};

}  // namespace cb::testsupport
