#include "sdk/measurement/engine/APMNumericUtil.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <cstring>
#include <string>

#include "sdk/measurement/engine/APMMeasurement.h"

std::int64_t APMNumericUtil::randomInt64() {
    unsigned char bytes[sizeof(std::int64_t)];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        char text[256] = "unknown error";
        if (const unsigned long code = ERR_get_error(); code != 0) {
            ERR_error_string_n(code, text, sizeof text);
        }
        APMMeasurement::monitor().logWithLevel(5, 26004, "Unable to generate random integer",
                                               std::string(text));
        return 0;
    }
    std::int64_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}
