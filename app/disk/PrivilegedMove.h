#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/disk/TrashError.h"
#include "platform/process/PrivilegedRunner.h"

namespace cb {

// The outcome of the privileged move. Every item given is in exactly one list, in input order.
struct PrivilegedMoveResult {
    // The items no longer at their former path, as they were passed in.
    std::vector<std::filesystem::path> moved;
    // The items still present, with the reason in the interface language.
    std::vector<TrashFailure> failed;
    // True when no elevated shell could be had at all (the launcher is missing, or it could not
    // authorise anyone); the reasons then say so, but the items' own refusals tell more.
    bool elevationNotPossible = false;
};

// What a privileged move script is built from besides the items. Tests fix these to compare
// the script text.
struct PrivilegedMoveScriptContext {
    uid_t uid = 0;
    gid_t gid = 0;
    // Returns a new random UUID in its 36-character text form.
    std::function<std::string()> newUuid;
    // The deletion time written into each item's info file.
    std::time_t deletionTime = 0;

    // This process's real user and group, random UUIDs and the current time.
    static PrivilegedMoveScriptContext current();
};

// Returns the shell script that moves each of `urls` into the freedesktop.org Trash folder
// `trashDirectory` (T below, which has "files" and "info" below it). Its lines, joined by single
// line feeds with none after the last, are:
//  - move_status=0
//  - /bin/mkdir -p -m 700 'T' 'T/files' 'T/info' && /bin/chown -h U:G (the same three) ||
//    move_status=1
//  - one line per item, each with a new UUID: { printf '%s\n' '[Trash Info]' 'Path=ENC'
//    'DeletionDate=DATE' > 'T/info/UUID.trashinfo' && /bin/chown -h U:G 'T/info/UUID.trashinfo'
//    && /bin/mv -n 'ITEM' 'T/files/UUID'; } || { [ -e 'T/files/UUID' ] || [ -h 'T/files/UUID' ]
//    || /bin/rm -f 'T/info/UUID.trashinfo'; move_status=1; }
//  - exit "$move_status"
//
// Every path is single-quoted, with each ' inside written as '\'' so the shell sees the path
// unchanged. chown never follows a link (the Trash folders are the user's to replace). mv never
// overwrites; a failing item leaves no info file without an item, sets the status to 1, and
// later items are still tried.
std::string makePrivilegedMoveScript(const std::vector<std::filesystem::path>& urls,
                                     const std::filesystem::path& trashDirectory,
                                     const PrivilegedMoveScriptContext& context);

// The same with the context of this process.
std::string makePrivilegedMoveScript(const std::vector<std::filesystem::path>& urls,
                                     const std::filesystem::path& trashDirectory);

// Quotes `path` for the shell: '...' with each ' written as '\''.
std::string shellQuoted(const std::string& path);

// Moves `urls` to the user's Trash folder `trashDirectory` with administrator rights: builds the
// script, runs it through `runner` (which asks the user to authenticate) and then judges each
// item only by whether something is still at its path (without following links). Items still
// present fail with "user cancelled password prompt" when the error output mentions
// "canceled"/"cancelled", else with the trimmed error output, else with "admin authorization
// failed". When the runner cannot start, every item fails with "could not launch pkexec: " and
// the system's reason. Both that and a launcher that cannot authorise anyone set
// elevationNotPossible. Never fails as a whole. Blocks until the dialog is answered and the
// script has ended: call it off the UI thread.
PrivilegedMoveResult privilegedMoveToTrash(const std::vector<std::filesystem::path>& urls,
                                           const std::filesystem::path& trashDirectory,
                                           platform::PrivilegedRunner& runner);

// The same into the current user's home Trash through pkexec.
PrivilegedMoveResult privilegedMoveToTrash(const std::vector<std::filesystem::path>& urls);

}  // namespace cb
