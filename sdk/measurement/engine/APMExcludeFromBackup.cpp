#include "sdk/measurement/engine/APMExcludeFromBackup.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

bool APMExcludeFromBackup(const std::string& path, sdk::Error* error) {
    if (setxattr(path.c_str(), kAPMBackupAttributeName, kAPMBackupAttributeValue.data(),
                 kAPMBackupAttributeValue.size(), 0) == 0) {
        return true;
    }
    const int failure = errno;
    if (failure == ENOTSUP) {
        return true;  // nothing to mark on this file system
    }
    if (error != nullptr) {
        *error = APMPOSIXError(failure, "Cannot exclude from backup", path);
    }
    return false;
}

sdk::Error APMPOSIXError(int errnoValue, std::string_view what, std::string_view path) {
    std::string message(what);
    message += " ";
    message += path;
    message += ": ";
    message += std::strerror(errnoValue);
    return sdk::Error(std::string(kAPMPOSIXErrorDomain), errnoValue, std::move(message));
}
