#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One process of this machine, as the workspace lists it.
struct RunningApplication {
    pid_t pid = 0;
    // The identifier of the bundle the process runs from, when its executable lies at
    // "<X>.app/Contents/MacOS/<exe>" in a bundle that opens and has a non-empty identifier.
    std::optional<std::string> bundleIdentifier;

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// The desktop's services for the application: opening URLs with their handlers, the running
// applications, and asking one of them to quit.
//
// Tests derive from it to record the requests or to report processes of their own.
class Workspace {
  public:
    virtual ~Workspace() = default;

    // The processes whose executable this user may read (/proc/<pid>/exe), in ascending pid
    // order; processes of other users (unless we are root), kernel threads and processes that
    // end while the list is made are left out. Each bundle is opened once per call. Blocks for
    // the time it takes to read /proc (milliseconds); any thread.
    virtual std::vector<RunningApplication> runningApplications();

    // Sends SIGTERM to `pid` and returns at once; whether the signal arrived, and whether the
    // process ends, is not reported. A pid of 0 or below (which kill() would take as a process
    // group or as every process) is ignored. Any thread.
    virtual void terminate(pid_t pid);

    // Asks the desktop to open `url` with the application registered for its scheme and returns
    // without waiting for it. Returns whether the request was handed on; the caller may ignore
    // it. Does nothing and returns false when the process runs without a graphical application
    // object (tools, tests), so it is safe to call anywhere.
    virtual bool openUrl(const std::string& url);

    // Starts the executable of the application bundle at `bundle` ("Contents/MacOS/<exe>" as its
    // Info.plist names it) as a detached process in a session of its own, with no arguments and
    // the bundle's folder as working directory, and returns without waiting for it. Returns
    // whether a process was started; false when the bundle does not open, names no executable
    // file, or the start fails. The started program is never waited for and leaves no zombie.
    // Any thread.
    virtual bool openApplication(const std::filesystem::path& bundle);

    // The desktop workspace of this process. Stateless, so sharing it is safe.
    static Workspace& shared();
};

}  // namespace platform
