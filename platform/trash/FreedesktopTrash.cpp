#include "platform/trash/FreedesktopTrash.h"

#include <fcntl.h>
#include <limits.h>
#include <locale.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "platform/trash/TrashInfo.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

// Room kept for ".trashinfo" and a clash suffix such as ".9999" within one name.
constexpr size_t kMaxBaseName = NAME_MAX - 10 - 6;
constexpr int kMaxNameAttempts = 10000;

// The system's untranslated text for `error`. The batch decides from this text whether an
// item needs administrator rights ("Permission denied", "Operation not permitted"), so it must
// not follow the process's message language, which Qt sets from the environment.
std::string errorText(int error) {
    static const locale_t untranslated = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    if (untranslated == locale_t{})
        return std::strerror(error);
    return ::strerror_l(error, untranslated);
}

// "/a/b/" -> "/a/b"; "/" stays.
std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Creates the folder `path` with `mode` unless a folder (not a link) is already there.
bool makeDirectory(const fs::path& path, mode_t mode, int& error) {
    if (::mkdir(path.c_str(), mode) == 0)
        return true;
    error = errno;
    struct stat st {};
    if (error == EEXIST && ::lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        error = ENOTDIR;
    }
    return false;
}

bool isOwnedRealDirectory(const fs::path& path, uid_t uid) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid;
}

// `path`, or its nearest existing ancestor when it does not exist yet (links followed).
fs::path nearestExisting(fs::path path) {
    struct stat st {};
    while (::stat(path.c_str(), &st) != 0 && path.has_relative_path())
        path = path.parent_path();
    return path;
}

// The id of the mount holding `path` (links followed), or nullopt where the kernel gives none.
std::optional<uint64_t> mountIdOf(const fs::path& path) {
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_MNT_ID, &sx) != 0 ||
        (sx.stx_mask & STATX_MNT_ID) == 0)
        return std::nullopt;
    return sx.stx_mnt_id;
}

// This process's mount table; empty when it cannot be read. Bounded: no sane table is larger.
std::string readMountTable() {
    constexpr size_t kMaxTable = size_t{16} << 20;
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string table;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || table.size() + static_cast<size_t>(n) > kMaxTable) {
            if (n != 0)
                table.clear();  // a failed or oversized read gives no table, not half of one
            break;
        }
        table.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return table;
}

// Undoes the octal escapes of a mount table field ("\040" is a space).
std::string unescapeMountField(std::string_view field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](size_t at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(i + 1) && isOctal(i + 2) &&
            isOctal(i + 3)) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// Whether the mount point `point` holds `path`: equal, or a leading run of whole components.
bool holds(const std::string& point, const std::string& path) {
    if (point == "/")
        return true;
    return path == point ||
           (path.size() > point.size() && path.compare(0, point.size(), point) == 0 &&
            path[point.size()] == '/');
}

// The name of an item in the Trash: its own, shortened to leave room for the suffixes, without
// cutting a UTF-8 sequence in two.
std::string fittedName(std::string name) {
    if (name.size() <= kMaxBaseName)
        return name;
    size_t cut = kMaxBaseName;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    name.resize(cut);
    return name;
}

// The attempt-th candidate: "a.txt", "a.2.txt", "a.3.txt", ...; a leading dot is no extension.
std::string candidateName(const std::string& base, int attempt) {
    if (attempt == 1)
        return base;
    const size_t dot = base.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? base.substr(0, dot) : base;
    const std::string extension = hasExtension ? base.substr(dot) : "";
    return stem + "." + std::to_string(attempt) + extension;
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return ::fsync(fd) == 0;
}

// Renames without replacing anything. File systems without RENAME_NOREPLACE fall back to a
// plain rename after the caller's existence test.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP)
        return error;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

enum class Reservation { reserved, taken, failed };

// Creates info/NAME.trashinfo with O_EXCL and fills it; `taken` when NAME is in use.
Reservation reserveInfo(const fs::path& root, const std::string& name, const std::string& text,
                        int& error) {
    const fs::path info = root / "info" / (name + ".trashinfo");
    const int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno;
        return error == EEXIST ? Reservation::taken : Reservation::failed;
    }
    struct stat st {};
    const bool fileClash = ::lstat((root / "files" / name).c_str(), &st) == 0;
    const bool written = !fileClash && writeAll(fd, text);
    error = written ? 0 : errno;
    ::close(fd);
    if (written)
        return Reservation::reserved;
    ::unlink(info.c_str());
    return fileClash ? Reservation::taken : Reservation::failed;
}

// Why the Trash folder `folder` could not be made. For a volume's Trash never a permission text:
// a batch hands items refused for lack of rights to the administrator prompt, whose script only
// fills the home Trash, and the item itself may well be movable; it is its Trash that is missing.
std::string trashFolderReason(const fs::path& folder, int error, bool homeTrash) {
    const bool refused = error == EACCES || error == EPERM;
    const std::string why =
        refused && !homeTrash ? "the folder above it is not writable" : errorText(error);
    return "the Trash folder " + folder.string() + " could not be made: " + why;
}

bool ensureLayout(const fs::path& root, int& error) {
    return makeDirectory(root, 0700, error) && makeDirectory(root / "files", 0700, error) &&
           makeDirectory(root / "info", 0700, error);
}

// Reserves a free name in `root` and renames `item` to it, filling in `result`.
void renameIntoTrash(const fs::path& root, const fs::path& item, const std::string& infoText,
                     TrashedItem& result) {
    const std::string base = fittedName(item.filename().string());
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string name = candidateName(base, attempt);
        const Reservation reservation = reserveInfo(root, name, infoText, result.error);
        if (reservation == Reservation::taken)
            continue;
        if (reservation == Reservation::failed)
            break;
        const fs::path target = root / "files" / name;
        result.error = renameNoReplace(item, target);
        if (result.error == 0) {
            result.trashed = target;
            return;
        }
        ::unlink((root / "info" / (name + ".trashinfo")).c_str());
        if (result.error != EEXIST)
            break;
    }
    if (result.error == 0)
        result.error = EEXIST;
    result.reason = errorText(result.error);
}

}  // namespace

FreedesktopTrash::FreedesktopTrash(fs::path homeTrash, uid_t uid)
    : homeTrash_(std::move(homeTrash)), uid_(uid) {}

fs::path FreedesktopTrash::originalPath(const fs::path& item) {
    std::error_code ignored;
    std::string path = withoutTrailingSlashes(fs::absolute(item, ignored).string());
    while (path.size() > 2 && path.ends_with("/."))
        path = withoutTrailingSlashes(path.substr(0, path.size() - 2));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return path;  // empty: nothing to name
    const std::string name = path.substr(slash + 1);
    if (name.empty() || name == ".")
        return "/";
    // Only the kernel knows where ".." leads after a symbolic link, so the folder is resolved
    // rather than tidied up as text; the item's own name is kept, so a link stays a link.
    char* resolved = ::realpath(slash == 0 ? "/" : path.substr(0, slash).c_str(), nullptr);
    if (resolved == nullptr)
        return path;
    fs::path folder = resolved;
    std::free(resolved);
    return folder / name;
}

FreedesktopTrash FreedesktopTrash::forCurrentUser() {
    return FreedesktopTrash(homeTrashDirectory(), ::getuid());
}

fs::path FreedesktopTrash::homeTrashDirectory() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return fs::path(dataHome) / "Trash";
    const char* home = std::getenv("HOME");
    std::string homePath = home != nullptr ? home : "";
    if (homePath.empty()) {
        const passwd* entry = ::getpwuid(::getuid());
        homePath = entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
    }
    return fs::path(homePath) / ".local" / "share" / "Trash";
}

std::vector<TrashedItem> FreedesktopTrash::moveToTrash(const std::vector<fs::path>& items) {
    std::vector<TrashedItem> results;
    results.reserve(items.size());
    for (const fs::path& item : items)
        results.push_back(moveOne(item));
    return results;
}

std::optional<FreedesktopTrash::Mount> FreedesktopTrash::mountHolding(const fs::path& path,
                                                                      const std::string& table) {
    const std::string target = withoutTrailingSlashes(path.string());
    std::optional<Mount> best;
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string::npos)
            end = table.size();
        // "ID PARENT MAJOR:MINOR ROOT POINT ...": the first and the fifth field.
        const std::string_view line(table.data() + start, end - start);
        start = end + 1;
        std::string_view fields[5];
        size_t at = 0;
        size_t count = 0;
        while (count < 5 && at < line.size()) {
            const size_t space = std::min(line.find(' ', at), line.size());
            fields[count++] = line.substr(at, space - at);
            at = space + 1;
        }
        int id = -1;
        if (count < 5 ||
            std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), id).ec !=
                std::errc())
            continue;
        std::string point = unescapeMountField(fields[4]);
        if (point.empty() || point.front() != '/' || !holds(point, target))
            continue;
        // Longer points are nearer; at the same point a later mount hides the earlier.
        if (!best || point.size() >= best->point.string().size())
            best = Mount{id, std::move(point)};
    }
    return best;
}

fs::path FreedesktopTrash::topDirectory(const fs::path& directory) {
    char* resolved = ::realpath(directory.c_str(), nullptr);
    if (resolved == nullptr)
        return {};
    fs::path top = resolved;
    std::free(resolved);
    if (std::optional<Mount> mount = mountHolding(top, readMountTable()))
        return mount->point;
    struct stat here {};
    if (::stat(top.c_str(), &here) != 0)
        return {};
    while (top.has_relative_path()) {
        struct stat above {};
        const fs::path parent = top.parent_path();
        if (::stat(parent.c_str(), &above) != 0 || above.st_dev != here.st_dev)
            break;
        top = parent;
    }
    return top;
}

std::optional<fs::path> FreedesktopTrash::volumeTrash(const fs::path& top, int& error,
                                                      std::string& reason) const {
    const std::string uid = std::to_string(uid_);
    // An administrator-made shared .Trash counts only when it is a sticky folder, not a link.
    struct stat shared {};
    const fs::path sharedTrash = top / ".Trash";
    if (::lstat(sharedTrash.c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) &&
        (shared.st_mode & S_ISVTX) != 0) {
        int ignored = 0;
        const fs::path mine = sharedTrash / uid;
        if (makeDirectory(mine, 0700, ignored) && isOwnedRealDirectory(mine, uid_))
            return mine;
    }
    const fs::path own = top / (".Trash-" + uid);
    if (!makeDirectory(own, 0700, error)) {
        reason = trashFolderReason(own, error, false);
        return std::nullopt;
    }
    if (!isOwnedRealDirectory(own, uid_)) {
        error = EPERM;
        reason = "the volume's Trash folder " + own.string() + " belongs to another user";
        return std::nullopt;
    }
    return own;
}

std::optional<fs::path> FreedesktopTrash::trashFor(const fs::path& item, dev_t device,
                                                   fs::path& infoPath, int& error,
                                                   std::string& reason) const {
    // A rename works within one mount only, so the home Trash serves the items of its mount.
    const fs::path home = nearestExisting(homeTrash_);
    const std::optional<uint64_t> itemMount =
        compareDevicesOnly_ ? std::nullopt : mountIdOf(item.parent_path());
    const std::optional<uint64_t> homeMount = compareDevicesOnly_ ? std::nullopt : mountIdOf(home);
    struct stat homeStat {};
    const bool onHomeMount =
        itemMount && homeMount ? *itemMount == *homeMount
                               : ::stat(home.c_str(), &homeStat) == 0 && homeStat.st_dev == device;
    if (onHomeMount) {
        std::error_code ignored;
        fs::create_directories(homeTrash_.parent_path(), ignored);
        infoPath = item;
        return homeTrashFolder(device, error, reason);
    }
    const fs::path top = topDirectory(item.parent_path());
    if (top.empty()) {
        error = errno;  // the item's own folder: no reason of the Trash's
        return std::nullopt;
    }
    // Items on other volumes keep a path relative to the volume, as the layout asks.
    infoPath = item.lexically_relative(top);
    return volumeTrash(top, error, reason);
}

std::optional<fs::path> FreedesktopTrash::homeTrashFolder(dev_t device, int& error,
                                                          std::string& reason) const {
    struct stat st {};
    if (::lstat(homeTrash_.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return homeTrash_;  // made when missing
    // The home Trash may be a link (to another disk's folder, say), but only to a folder of the
    // user's own on the item's file system, so the move stays a rename into the user's hands.
    char* resolved = ::realpath(homeTrash_.c_str(), nullptr);
    fs::path target = resolved != nullptr ? resolved : "";
    std::free(resolved);
    struct stat there {};
    if (target.empty() || ::stat(target.c_str(), &there) != 0 || !S_ISDIR(there.st_mode) ||
        there.st_uid != uid_ || there.st_dev != device) {
        error = ENOTDIR;
        reason = "the Trash folder " + homeTrash_.string() +
                 " is a symbolic link that does not lead to a folder of yours on this disk";
        return std::nullopt;
    }
    return target;
}

TrashedItem FreedesktopTrash::moveOne(const fs::path& original) const {
    TrashedItem result{original, std::nullopt, 0, {}};
    const fs::path item = originalPath(original);
    struct stat st {};
    fs::path infoPath;
    std::optional<fs::path> root;
    if (::lstat(item.c_str(), &st) != 0) {
        result.error = errno;
    } else if (item == "/" || !item.has_filename()) {
        result.error = EBUSY;
    } else if ((root = trashFor(item, st.st_dev, infoPath, result.error, result.reason))) {
        if (!ensureLayout(*root, result.error)) {
            // Only the home Trash keeps items by absolute path.
            result.reason = trashFolderReason(*root, result.error, infoPath.is_absolute());
            root.reset();
        }
    }
    if (!root) {
        // A reason given on the way names the Trash folder; else the item itself failed.
        result.trashFolderFailed = !result.reason.empty();
        if (result.reason.empty())
            result.reason = errorText(result.error);
        return result;
    }
    renameIntoTrash(*root, item, trashInfoText(infoPath.string(), std::time(nullptr)), result);
    if (!result.trashed && result.error == EXDEV && infoPath.is_absolute())
        moveToMountTrash(item, result);
    return result;
}

void FreedesktopTrash::moveToMountTrash(const fs::path& item, TrashedItem& result) const {
    result = TrashedItem{result.original, std::nullopt, 0, {}};
    const fs::path top = topDirectory(item.parent_path());
    if (top.empty()) {
        result.error = errno != 0 ? errno : ENOENT;
        result.reason = errorText(result.error);
        return;
    }
    std::optional<fs::path> root = volumeTrash(top, result.error, result.reason);
    if (root && !ensureLayout(*root, result.error)) {
        result.reason = trashFolderReason(*root, result.error, false);
        root.reset();
    }
    if (!root) {
        result.trashFolderFailed = true;
        return;
    }
    renameIntoTrash(*root, item,
                    trashInfoText(item.lexically_relative(top).string(), std::time(nullptr)),
                    result);
}

}  // namespace platform
