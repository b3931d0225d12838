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
//  - on the file system of the home Trash ($XDG_DATA_HOME/Trash, by default
//    ~/.local/share/Trash): there;
//  - elsewhere: TOP/.Trash/UID when TOP/.Trash is a real, sticky folder that is no symbolic
//    link, else TOP/.Trash-UID, where TOP is the top directory of the item's file system.
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

    // The top directory of the file system holding the folder `directory` (resolved first):
    // the highest ancestor still on the same device. Empty when `directory` cannot be read.
    static std::filesystem::path topDirectory(const std::filesystem::path& directory);

    // The Trash folder to use on the volume whose top directory is `top`, created when missing.
    // Returns empty and sets `error`/`reason` when no safe Trash folder can be had.
    std::optional<std::filesystem::path> volumeTrash(const std::filesystem::path& top, int& error,
                                                     std::string& reason) const;

    // The home Trash folder given at construction.
    const std::filesystem::path& homeTrash() const { return homeTrash_; }

  private:
    // The home Trash folder, or the folder it links to when that is the user's own on `device`.
    std::optional<std::filesystem::path> homeTrashFolder(dev_t device, int& error,
                                                         std::string& reason) const;
    std::optional<std::filesystem::path> trashFor(const std::filesystem::path& item, dev_t device,
                                                  std::filesystem::path& infoPath, int& error,
                                                  std::string& reason) const;

    const std::filesystem::path homeTrash_;
    const uid_t uid_;
};

}  // namespace platform
