#include "sdk/utilities/VDURandomBytes.h"

#include <sys/random.h>

#include <cerrno>

bool VDURandomBytes(void* buffer, std::size_t size) {
    auto* next = static_cast<unsigned char*>(buffer);
    std::size_t remaining = size;
    while (remaining > 0) {
        const ssize_t got = getrandom(next, remaining, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        next += got;
        remaining -= static_cast<std::size_t>(got);
    }
    return true;
}
