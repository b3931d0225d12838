#pragma once

#include <string>

#include "platform/process/ProcessRunner.h"

namespace platform {

// Runs a shell script with administrator rights through a launcher that asks the user to
// authenticate (pkexec on Linux): LAUNCHER /bin/sh -c SCRIPT, so the script travels as one
// argument and needs no further escaping.
//
// The launcher's own refusals are made recognisable: when it exits with 126 (the user dismissed
// the dialog) a line containing "cancelled" is appended to the error output; when it exits with
// 127 (not authorised, or no authentication agent to ask) the error output becomes
// "authorisation is not possible", followed by ": " and the launcher's first line when it said
// anything. Thread-safe; tests override runShellScript() or point the launcher at a fake tool.
class PrivilegedRunner {
  public:
    // The launcher on Linux.
    static constexpr const char* kDefaultLauncher = "/usr/bin/pkexec";
    // The start of the error output when authorisation cannot be had.
    static constexpr const char* kNotPossible = "authorisation is not possible";

    // REQUIRES: `processes` outlives this object.
    explicit PrivilegedRunner(std::string launcher = kDefaultLauncher,
                              ProcessRunner& processes = ProcessRunner::shared());
    virtual ~PrivilegedRunner() = default;

    // Runs `script` under /bin/sh with elevated rights and waits for it. Standard output and
    // standard error are read separately to their end. A launcher that cannot start gives
    // launched == false and the system's reason. Blocks for as long as the dialog is open.
    virtual ProcessResult runShellScript(const std::string& script);

    // The launcher's path.
    const std::string& launcher() const { return launcher_; }

    // True when `result` of runShellScript() shows that no elevated shell could be had at all:
    // the launcher did not start (missing, say), or it exited with 127 (not authorised, or no
    // authentication agent). A dismissed dialog (126) is the user's answer, not this.
    static bool elevationNotPossible(const ProcessResult& result) {
        return !result.launched || result.exitStatus == 127;
    }

  private:
    const std::string launcher_;
    ProcessRunner& processes_;
};

}  // namespace platform
