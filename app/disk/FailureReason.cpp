#include "app/disk/FailureReason.h"

#include <cerrno>

#include "app/localization/LocalizationManager.h"

namespace cb {

std::string localizedFailureReason(int error, const std::string& systemText) {
    const char* key = nullptr;
    switch (error) {
        case EACCES:
            key = "error.permissionDenied";
            break;
        case EPERM:
            key = "error.notPermitted";
            break;
        case ENOENT:
            key = "error.noSuchFile";
            break;
        case EXDEV:
            key = "error.crossDevice";
            break;
        case EROFS:
            key = "error.readOnly";
            break;
        case ENOSPC:
            key = "error.noSpace";
            break;
        case ENOTEMPTY:
            key = "error.notEmpty";
            break;
        case EBUSY:
            key = "error.busy";
            break;
        default:
            return systemText;
    }
    return LocalizationManager::shared().text(key);
}

bool isPermissionError(int error) {
    return error == EACCES || error == EPERM;
}

}  // namespace cb
