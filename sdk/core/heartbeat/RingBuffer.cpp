#include "sdk/core/heartbeat/RingBuffer.h"

namespace heartbeat {

std::string RingBufferError::description() const {
    return "Out-of-bounds push at index " + std::to_string(pushIndex) + " to ring buffer with" +
           "end index of " + std::to_string(endIndex) + ".";
}

}  // namespace heartbeat
