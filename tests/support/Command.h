#pragma once

#include <string>

namespace cb::testsupport {

// Runs `command` through /bin/sh and returns what it wrote to standard output ("" when the
// shell cannot be started). Tests use it to read our files back with independent tools.
std::string commandOutput(const std::string& command);

}  // namespace cb::testsupport
