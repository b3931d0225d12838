#pragma once

#include <filesystem>
#include <vector>

#include "app/disk/TrashError.h"
#include "platform/process/PrivilegedRunner.h"
#include "platform/trash/Trash.h"

namespace cb {

// Moves files and folders to the user's Trash: one item at a time for the disk map (no
// fallback), or a list for the uninstaller, where items refused for lack of permission are moved
// again with administrator rights.
//
// The service keeps no state between calls; its collaborators are injected so tests can refuse
// moves and stand in for the authentication dialog. Both operations block until done (the batch
// also until the administrator dialog is answered): call them off the UI thread. Reasons come in
// the current interface language from LocalizationManager::shared().
class TrashService {
  public:
    // REQUIRES: `trash` and `runner` outlive the service. `privilegedTrash` is the Trash folder
    // the privileged move writes into (the home Trash of `trash`).
    TrashService(platform::Trash& trash, std::filesystem::path privilegedTrash,
                 platform::PrivilegedRunner& runner);

    // Moves `url` to the Trash and returns its new place there. On failure the error is `failed`
    // with the system's reason, or "Could not move to Trash (administrator rights may be
    // required)." when none was given. Never asks for administrator rights.
    RecycleResult recycle(const std::filesystem::path& url) const;

    // Moves `urls` to the Trash. Missing items (tested without following links) fail with "file
    // not found" and are not sent to the Trash; with none left, no move is requested. Items the
    // Trash refused with a reason mentioning "permission" or "not permitted" (any letter case)
    // go to the privileged move. Order: `succeeded` lists the first-pass successes in input
    // order, then the privileged ones; `failed` lists the missing items, then the other
    // first-pass failures, then the privileged failures. Never fails as a whole.
    TrashBatchResult recycleBatch(const std::vector<std::filesystem::path>& urls) const;

  private:
    platform::Trash& trash_;
    const std::filesystem::path privilegedTrash_;
    platform::PrivilegedRunner& runner_;
};

// recycle() with the current user's Trash.
RecycleResult recycle(const std::filesystem::path& url);

// recycleBatch() with the current user's Trash and pkexec for administrator rights.
TrashBatchResult recycleBatch(const std::vector<std::filesystem::path>& urls);

}  // namespace cb
