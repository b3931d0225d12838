#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace sdk {

// The encryption-information flag of an executable image in the home platform's object format
// (Mach-O, native byte order): the image is a main executable (file type 2) whose load commands
// include the encryption-info command of its width (0x2C for a 64-bit header with magic
// 0xfeedfacf, 0x21 for a 32-bit one with 0xfeedface) with a crypt id (the command's fifth
// 32-bit word) other than 0.

// Largest head of an executable that is read for the flag; load commands beyond it are not
// seen.
inline constexpr std::size_t kMaxExecutableHeaderBytes = 1 << 20;

// Returns the flag of the image whose first bytes are `image`. Anything else (an ELF image, a
// library, a truncated header) gives false; a load command that runs past `image` or is smaller
// than a command header ends the walk with false.
bool imageIsEncrypted(std::span<const unsigned char> image);

// Returns the flag of the executable file at `path` (for the running process,
// "/proc/self/exe"); false when it cannot be read.
bool executableIsEncrypted(const std::string& path);

}  // namespace sdk
