#pragma once

#include <string>

namespace cb {

// The reason a file operation failed with the system error `error`, in the current interface
// language: the string table's text for the errors users meet when moving items (permission
// denied, operation not permitted, no such file, a move across mounts, a read-only or full
// volume, a folder not empty, a busy device), else `systemText` as it is. Decided by the error
// number, never by the system's text, which follows the process's own locale. Thread-safe.
std::string localizedFailureReason(int error, const std::string& systemText);

// True when `error` is a refusal for lack of rights (EACCES or EPERM).
bool isPermissionError(int error);

}  // namespace cb
