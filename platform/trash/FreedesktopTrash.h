#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/trash/Trash.h"

namespace platform {

// The freedesktop.org Trash layout, shared with the desktop's file manager.
//
// Where an item goes:
//  - on the mount of the home Trash ($XDG_DATA_HOME/Trash, by default ~/.local/share/Trash):
//    there;
//  - elsewhere: TOP/.Trash/UID when TOP/.Trash is a real, sticky folder that is no symbolic
//    link, else TOP/.Trash-UID, where TOP is the mount point of the mount holding the item.
// Mounts are told apart by their ids in the mount table (statx STATX_MNT_ID), not by device
// numbers alone: a folder bind-mounted from the home file system shares its device, yet a rename
// from it into the home Trash fails with EXDEV. Device numbers decide only where the kernel
// gives no mount id; should the home Trash still refuse an item with EXDEV, the item goes to the
// Trash of its own mount, whose top the mount table (/proc/self/mountinfo) gives.
// The home Trash may be a symbolic link to a folder the user owns on the same file system; a
// Trash folder that cannot be had fails the item with a reason that names that folder.
// Each move first reserves info/NAME.trashinfo with O_EXCL, then renames the item to files/NAME
// without replacing anything; a clash picks the next free name ("a.2.txt"), and a failed rename
// removes the reservation again. Existence is tested without following links, so a dangling
// symbolic link is moved like any other item.
//
// Thread-safe: it holds only immutable settings; concurrent moves pick distinct names through
// the O_EXCL reservation.
class FreedesktopTrash : public Trash {
  public:
    // A Trash whose home Trash folder is `homeTrash` (created on first use, mode 700), for the
    // user `uid`.
    explicit FreedesktopTrash(std::filesystem::path homeTrash, uid_t uid);

    // A Trash for this process's user and its home Trash folder of the moment.
    static FreedesktopTrash forCurrentUser();

    // $XDG_DATA_HOME/Trash when XDG_DATA_HOME is set to an absolute path, else
    // $HOME/.local/share/Trash (the password database's home when HOME is unset).
    static std::filesystem::path homeTrashDirectory();

    std::vector<TrashedItem> moveToTrash(const std::vector<std::filesystem::path>& items) override;

    // The absolute path of `item` as the item's original location: its folder resolved
    // (symbolic links, "." and ".."), its own name kept as it is, no trailing slashes. When the
    // folder cannot be resolved, the absolute path as given without trailing slashes.
    static std::filesystem::path originalPath(const std::filesystem::path& item);

    // Moves one item; see moveToTrash().
    TrashedItem moveOne(const std::filesystem::path& item) const;

    // The top directory of the mount holding the folder `directory` (resolved first): its mount
    // point in the mount table, or, when the table cannot be read, the highest ancestor still on
    // the same device. Empty when `directory` cannot be read.
    static std::filesystem::path topDirectory(const std::filesystem::path& directory);

    // One mount of a mount table (the format of /proc/self/mountinfo).
    struct Mount {
        int id = -1;                  // the mount's id, unique among the mounts of the table
        std::filesystem::path point;  // where it is mounted, with the table's escapes undone
    };

    // The mount of `table` that holds the absolute, resolved `path`: the one whose mount point
    // is the longest leading run of whole components of `path`; of mounts at the same point,
    // the last listed (it hides the others). Nullopt when the table lists none ("/" missing).
    static std::optional<Mount> mountHolding(const std::filesystem::path& path,
                                             const std::string& table);

    // The Trash folder to use on the volume whose top directory is `top`, created when missing.
    // Returns empty and sets `error`/`reason` when no safe Trash folder can be had.
    std::optional<std::filesystem::path> volumeTrash(const std::filesystem::path& top, int& error,
                                                     std::string& reason) const;

    // The home Trash folder given at construction.
    const std::filesystem::path& homeTrash() const { return homeTrash_; }

    // Makes this Trash ignore mount ids and compare devices only, as on a kernel without them,
    // so tests reach the EXDEV fallback.
    void TEST_compareDevicesOnly() { compareDevicesOnly_ = true; }

  private:
    // The home Trash folder, or the folder it links to when that is the user's own on `device`.
    std::optional<std::filesystem::path> homeTrashFolder(dev_t device, int& error,
                                                         std::string& reason) const;
    std::optional<std::filesystem::path> trashFor(const std::filesystem::path& item, dev_t device,
                                                  std::filesystem::path& infoPath, int& error,
                                                  std::string& reason) const;
    // Renames `item` into the Trash of its own mount after the home Trash refused it with EXDEV.
    void moveToMountTrash(const std::filesystem::path& item, TrashedItem& result) const;

    const std::filesystem::path homeTrash_;
    const uid_t uid_;
    bool compareDevicesOnly_ = false;
};

}  // namespace platform
