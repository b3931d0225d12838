// A program of its own for the logging layer's one-time set-up, which reads the command line and
// the standard user defaults once per process. It prints the level after the set-up, then logs
// one message through RZDLoggerWrapper (to stderr).
#include <cstdio>

#include "sdk/core/RZDLogger.h"
#include "sdk/core/RZDLoggerWrapper.h"
#include "sdk/utilities/VDULogger.h"

int main() {
    RZDLoggerInitialize();
    std::printf("level=%lld\n", static_cast<long long>(RZDLoggerGetLevel()));
    std::fflush(stdout);
    RZDLoggerWrapper::logWithLevel(5, kRZDLoggerServiceCore, "I-COR000100", "kept %@ and %d");
    TEST_VDULoggerFlush();
    return 0;
}
