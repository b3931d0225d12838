#pragma once

#include <string>

#include "sdk/utilities/Error.h"

// The file system's immutable flag (chattr +i), read and cleared through FS_IOC_GETFLAGS and
// FS_IOC_SETFLAGS. A file system without these calls has no immutable files.

// True when the file at `path` is immutable; false when it is not, when the flags cannot be
// read, or when the file system has no flags.
bool APMFileIsImmutable(const std::string& path);

// Clears the flag of an immutable file. True when the file is not immutable afterwards;
// otherwise false with a POSIX error in `error` (when not null).
bool APMClearImmutableFlag(const std::string& path, sdk::Error* error);
