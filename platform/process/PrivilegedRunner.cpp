#include "platform/process/PrivilegedRunner.h"

#include <utility>

namespace platform {

PrivilegedRunner::PrivilegedRunner(std::string launcher, ProcessRunner& processes)
    : launcher_(std::move(launcher)), processes_(processes) {}

ProcessResult PrivilegedRunner::runShellScript(const std::string& script) {
    ProcessResult result =
        processes_.run(launcher_, {"/bin/sh", "-c", script}, OutputStreams::separate);
    // The script itself only ever exits 0 or 1, so these statuses are the launcher's: the
    // dialog was dismissed (126) or authorisation was refused or could not be obtained (127).
    if (result.launched && (result.exitStatus == 126 || result.exitStatus == 127)) {
        if (!result.errorOutput.empty() && result.errorOutput.back() != '\n') {
            result.errorOutput += '\n';
        }
        result.errorOutput += "Authentication cancelled or refused.";
    }
    return result;
}

}  // namespace platform
