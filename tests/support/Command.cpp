#include "tests/support/Command.h"

#include <cstdio>

namespace cb::testsupport {

std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    ::pclose(pipe);
    return output;
}

}  // namespace cb::testsupport
