#include "app/disk/PrivilegedMove.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>

#include "app/localization/LocalizationManager.h"
#include "platform/trash/FreedesktopTrash.h"
#include "platform/trash/TrashInfo.h"

namespace fs = std::filesystem;

namespace cb {
namespace {

std::string randomUuid() {
    std::random_device device;
    std::uniform_int_distribution<int> byte(0, 255);
    unsigned char bytes[16];
    for (unsigned char& b : bytes)
        b = static_cast<unsigned char>(byte(device));
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

// The item's absolute path with its folder resolved, as it is written into the script.
std::string itemPath(const fs::path& url) {
    return platform::FreedesktopTrash::originalPath(url).string();
}

std::string itemLine(const fs::path& url, const std::string& trash, const std::string& owner,
                     const std::string& uuid, const std::string& date) {
    const std::string path = itemPath(url);
    const std::string info = shellQuoted(trash + "/info/" + uuid + ".trashinfo");
    const std::string target = shellQuoted(trash + "/files/" + uuid);
    // When any step fails, the reserved info file goes again unless something of the item
    // landed in the Trash (a move across file systems that stopped halfway): then it names it.
    return "{ printf '%s\\n' '[Trash Info]' " +
           shellQuoted("Path=" + platform::encodeTrashInfoPath(path)) + " " +
           shellQuoted("DeletionDate=" + date) + " > " + info + " && /bin/chown -h " + owner + " " +
           info + " && /bin/mv -n " + shellQuoted(path) + " " + target + "; } || { [ -e " + target +
           " ] || [ -h " + target + " ] || /bin/rm -f " + info + "; move_status=1; }";
}

std::string trimmed(const std::string& text) {
    auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
    auto end = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return begin < end ? std::string(begin, end) : std::string();
}

// The reason for every item the script left in place.
std::string reasonForItemsLeft(const std::string& errorOutput) {
    const std::string text = trimmed(platform::utf8OrEmpty(errorOutput));
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const LocalizationManager& loc = LocalizationManager::shared();
    if (lower.find("canceled") != std::string::npos ||
        lower.find("cancelled") != std::string::npos) {
        return loc.text("trash.userCancelled");
    }
    return text.empty() ? loc.text("trash.adminFailed") : text;
}

bool existsWithoutFollowingLinks(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

PrivilegedMoveScriptContext PrivilegedMoveScriptContext::current() {
    return PrivilegedMoveScriptContext{::getuid(), ::getgid(), randomUuid, std::time(nullptr)};
}

std::string shellQuoted(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string makePrivilegedMoveScript(const std::vector<fs::path>& urls,
                                     const fs::path& trashDirectory,
                                     const PrivilegedMoveScriptContext& context) {
    const std::string trash = itemPath(trashDirectory);
    const std::string owner = std::to_string(context.uid) + ":" + std::to_string(context.gid);
    const std::string folders = shellQuoted(trash) + " " + shellQuoted(trash + "/files") + " " +
                                shellQuoted(trash + "/info");
    const std::string date = platform::trashInfoDate(context.deletionTime);
    std::string script = "move_status=0\n/bin/mkdir -p -m 700 " + folders + " && /bin/chown -h " +
                         owner + " " + folders + " || move_status=1\n";
    for (const fs::path& url : urls) {
        script += itemLine(url, trash, owner, context.newUuid(), date) + "\n";
    }
    return script + "exit \"$move_status\"";
}

std::string makePrivilegedMoveScript(const std::vector<fs::path>& urls,
                                     const fs::path& trashDirectory) {
    return makePrivilegedMoveScript(urls, trashDirectory, PrivilegedMoveScriptContext::current());
}

PrivilegedMoveResult privilegedMoveToTrash(const std::vector<fs::path>& urls,
                                           const fs::path& trashDirectory,
                                           platform::PrivilegedRunner& runner) {
    // The folders above the Trash are made as the user, so the root shell never creates
    // folders in the user's home that the user would not own.
    std::error_code ignored;
    fs::create_directories(trashDirectory.parent_path(), ignored);
    const platform::ProcessResult run =
        runner.runShellScript(makePrivilegedMoveScript(urls, trashDirectory));
    PrivilegedMoveResult result;
    result.elevationNotPossible = platform::PrivilegedRunner::elevationNotPossible(run);
    if (!run.launched) {
        const std::string reason =
            LocalizationManager::shared().format("trash.cannotLaunchOsa", {run.launchError});
        for (const fs::path& url : urls)
            result.failed.push_back({url, reason});
        return result;
    }
    const std::string reason = reasonForItemsLeft(run.errorOutput);
    for (const fs::path& url : urls) {
        if (existsWithoutFollowingLinks(itemPath(url))) {
            result.failed.push_back({url, reason});
        } else {
            result.moved.push_back(url);
        }
    }
    return result;
}

PrivilegedMoveResult privilegedMoveToTrash(const std::vector<fs::path>& urls) {
    static platform::PrivilegedRunner runner;
    return privilegedMoveToTrash(urls, platform::FreedesktopTrash::homeTrashDirectory(), runner);
}

}  // namespace cb
