#include "sdk/utilities/Fatal.h"

#include <cstdio>
#include <cstdlib>

#include "sdk/utilities/VDULogger.h"

namespace sdk {

void abortWithMessage(std::string_view message) {
    VDULoggerFlush();
    std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
    std::abort();
}

}  // namespace sdk
