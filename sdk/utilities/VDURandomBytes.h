#pragma once

#include <cstddef>

// Fills `size` bytes at `buffer` from the kernel's random source (getrandom). False, with errno
// set, when it cannot; the buffer is then unspecified.
//
// Thread-safety: any thread, at any time, also while the process exits: it keeps no state, so
// a timer that fires after the crypto library has torn down its own generator is still served.
bool VDURandomBytes(void* buffer, std::size_t size);
