#include "platform/process/PrivilegedRunner.h"

#include <utility>

namespace platform {
namespace {

// The first line of `text` that holds more than white space, trimmed.
std::string firstLine(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const size_t first = text.find_first_not_of(" \t\r", start);
        if (first != std::string::npos && first < end) {
            const size_t last = text.find_last_not_of(" \t\r", end - 1);
            return text.substr(first, last - first + 1);
        }
        start = end + 1;
    }
    return {};
}

}  // namespace

PrivilegedRunner::PrivilegedRunner(std::string launcher, ProcessRunner& processes)
    : launcher_(std::move(launcher)), processes_(processes) {}

ProcessResult PrivilegedRunner::runShellScript(const std::string& script) {
    ProcessResult result =
        processes_.run(launcher_, {"/bin/sh", "-c", script}, OutputStreams::separate);
    // The script itself only ever exits 0 or 1, so these statuses are the launcher's.
    if (result.launched && result.exitStatus == 126) {
        // The user dismissed the dialog.
        if (!result.errorOutput.empty() && result.errorOutput.back() != '\n') {
            result.errorOutput += '\n';
        }
        result.errorOutput += "Authentication cancelled.";
    } else if (result.launched && result.exitStatus == 127) {
        // Not authorised, or no authentication agent to ask: nothing the user dismissed.
        const std::string said = firstLine(result.errorOutput);
        result.errorOutput = std::string(kNotPossible) + (said.empty() ? "" : ": " + said);
    }
    return result;
}

}  // namespace platform
