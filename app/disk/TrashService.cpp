#include "app/disk/TrashService.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "app/disk/PrivilegedMove.h"
#include "app/localization/LocalizationManager.h"
#include "platform/trash/FreedesktopTrash.h"

namespace fs = std::filesystem;

namespace cb {
namespace {

bool existsWithoutFollowingLinks(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Whether the Trash refused an item for lack of rights, as its reason tells.
bool needsAdministrator(const std::string& reason) {
    std::string lower = reason;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("permission") != std::string::npos ||
           lower.find("not permitted") != std::string::npos;
}

template <typename T>
void append(std::vector<T>& to, std::vector<T> from) {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

}  // namespace

TrashService::TrashService(platform::Trash& trash, fs::path privilegedTrash,
                           platform::PrivilegedRunner& runner)
    : trash_(trash), privilegedTrash_(std::move(privilegedTrash)), runner_(runner) {}

RecycleResult TrashService::recycle(const fs::path& url) const {
    std::vector<platform::TrashedItem> moved = trash_.moveToTrash({url});
    if (moved.size() == 1 && moved[0].trashed)
        return RecycleResult{moved[0].trashed, std::nullopt};
    std::string reason = moved.size() == 1 ? moved[0].reason : std::string();
    if (reason.empty())
        reason = LocalizationManager::shared().text("trash.needsAdmin");
    return RecycleResult{std::nullopt, TrashError::failed(std::move(reason))};
}

TrashBatchResult TrashService::recycleBatch(const std::vector<fs::path>& urls) const {
    const LocalizationManager& loc = LocalizationManager::shared();
    TrashBatchResult result;
    std::vector<fs::path> existing;
    for (const fs::path& url : urls) {
        if (existsWithoutFollowingLinks(url)) {
            existing.push_back(url);
        } else {
            result.failed.push_back({url, loc.text("trash.fileNotFound")});
        }
    }
    if (existing.empty())
        return result;

    const std::vector<platform::TrashedItem> moved = trash_.moveToTrash(existing);
    std::vector<fs::path> needAdministrator;
    for (size_t i = 0; i < existing.size(); ++i) {
        const platform::TrashedItem* item = i < moved.size() ? &moved[i] : nullptr;
        if (item != nullptr && item->trashed) {
            result.succeeded.push_back(existing[i]);
            continue;
        }
        std::string reason = item != nullptr ? item->reason : std::string();
        if (reason.empty())
            reason = loc.text("trash.cannotMove");
        if (needsAdministrator(reason)) {
            needAdministrator.push_back(existing[i]);
        } else {
            result.failed.push_back({existing[i], std::move(reason)});
        }
    }
    if (needAdministrator.empty())
        return result;

    PrivilegedMoveResult privileged =
        privilegedMoveToTrash(needAdministrator, privilegedTrash_, runner_);
    append(result.succeeded, std::move(privileged.moved));
    append(result.failed, std::move(privileged.failed));
    return result;
}

RecycleResult recycle(const fs::path& url) {
    platform::FreedesktopTrash trash = platform::FreedesktopTrash::forCurrentUser();
    static platform::PrivilegedRunner runner;
    return TrashService(trash, trash.homeTrash(), runner).recycle(url);
}

TrashBatchResult recycleBatch(const std::vector<fs::path>& urls) {
    platform::FreedesktopTrash trash = platform::FreedesktopTrash::forCurrentUser();
    static platform::PrivilegedRunner runner;
    return TrashService(trash, trash.homeTrash(), runner).recycleBatch(urls);
}

}  // namespace cb
