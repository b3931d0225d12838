#pragma once

#include <string>
#include <string_view>

#include "sdk/utilities/Error.h"

// The domain of errors that carry an errno value as their code.
inline constexpr std::string_view kAPMPOSIXErrorDomain = "NSPOSIXErrorDomain";

// The extended attribute that tells backup tools to leave a file out, and the value that does.
inline constexpr const char* kAPMBackupAttributeName = "user.xdg.robots.backup";
inline constexpr std::string_view kAPMBackupAttributeValue = "false";

// Marks the file at `path` as excluded from backups: sets the extended attribute
// kAPMBackupAttributeName to "false". A file system without user attributes counts as done.
// Returns true on success; otherwise false and, when `error` is not null, an error of
// kAPMPOSIXErrorDomain with the errno value as code and a message naming the path.
bool APMExcludeFromBackup(const std::string& path, sdk::Error* error);

// An error of kAPMPOSIXErrorDomain for `errnoValue`: "<what> <path>: <strerror>".
sdk::Error APMPOSIXError(int errnoValue, std::string_view what, std::string_view path);
