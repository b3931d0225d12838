#include "sdk/measurement/engine/APMNumericUtil.h"

#include <cerrno>

#include <cstring>
#include <string>

#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/utilities/VDURandomBytes.h"

std::int64_t APMNumericUtil::randomInt64() {
    unsigned char bytes[sizeof(std::int64_t)];
    if (!VDURandomBytes(bytes, sizeof bytes)) {
        APMMonitor::shared().logWithLevel(5, 26004, "Unable to generate random integer",
                                          std::string(std::strerror(errno)));
        return 0;
    }
    std::int64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
