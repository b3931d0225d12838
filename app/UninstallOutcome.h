#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "app/disk/TrashError.h"

namespace cb {

// How the window state reads the failures of an uninstall: which of them the system refused for
// lack of a permission, which permissions those are, and the summary text of the others.

// True when `reason`, lowercased, mentions "permission", "not permitted" or "operation not
// permitted".
bool isPermissionFailure(const std::string& reason);

// True when `failure` is a refusal for lack of rights: by its error number (EACCES, EPERM),
// which holds in every interface language, or by its reason as above.
bool isPermissionFailure(const TrashFailure& failure);

// True when `path` is `folder` or lies below it, compared by whole path components after lexical
// normalisation: "/ApplicationsX/a" is not under "/Applications". An empty `folder` holds
// nothing.
bool isUnderFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

// The permissions that the refused items at `paths` need.
struct NeededPermissions {
    bool appManagement = false;   // an item lies in the applications folder
    bool fullDiskAccess = false;  // an item lies in a Library, /private or /var
};

// What `paths` need, judged by where they lie: "/Applications" (and the applications root of
// AppLocations) for App Management; "/Library" (and the machine Library of AppLocations),
// $HOME/Library, "/private" and "/var" for Full Disk Access.
NeededPermissions neededPermissions(const std::vector<std::filesystem::path>& paths);

// The lines of the failure summary: "• NAME: REASON" per failure (NAME the last path
// component), joined by line feeds.
std::string failureLines(const std::vector<TrashFailure>& failures);

}  // namespace cb
