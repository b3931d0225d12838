#include "app/disk/TrashService.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "app/disk/FailureReason.h"
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

// Whether the Trash refused an item for lack of rights: by its error number, which holds in
// every language, or as a reason in words tells.
bool needsAdministrator(const TrashFailure& failure) {
    if (isPermissionError(failure.error))
        return true;
    std::string lower = failure.reason;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("permission") != std::string::npos ||
           lower.find("not permitted") != std::string::npos;
}

// Why `item` was not moved, in the interface language where the item's own error says it; a
// Trash folder that could not be had keeps its sentence and no error number.
TrashFailure failureOf(const fs::path& url, const platform::TrashedItem* item) {
    if (item == nullptr || item->reason.empty())
        return {url, LocalizationManager::shared().text("trash.cannotMove"), 0};
    if (item->trashFolderFailed || item->error == 0)
        return {url, item->reason, 0};
    return {url, localizedFailureReason(item->error, item->reason), item->error};
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
    if (moved.size() != 1 || moved[0].reason.empty()) {
        return RecycleResult{
            std::nullopt,
            TrashError::failed(LocalizationManager::shared().text("trash.needsAdmin"))};
    }
    return RecycleResult{std::nullopt, TrashError::failed(failureOf(url, moved.data()).reason)};
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
    std::vector<TrashFailure> refused;  // the first-pass failures of needAdministrator
    for (size_t i = 0; i < existing.size(); ++i) {
        const platform::TrashedItem* item = i < moved.size() ? &moved[i] : nullptr;
        if (item != nullptr && item->trashed) {
            result.succeeded.push_back(existing[i]);
            continue;
        }
        TrashFailure failure = failureOf(existing[i], item);
        if (needsAdministrator(failure)) {
            needAdministrator.push_back(existing[i]);
            refused.push_back(std::move(failure));
        } else {
            result.failed.push_back(std::move(failure));
        }
    }
    if (needAdministrator.empty())
        return result;

    PrivilegedMoveResult privileged =
        privilegedMoveToTrash(needAdministrator, privilegedTrash_, runner_);
    append(result.succeeded, std::move(privileged.moved));
    if (!privileged.elevationNotPossible) {
        append(result.failed, std::move(privileged.failed));
        return result;
    }
    // Without a way to elevate, each item keeps the refusal it met, so the caller's flow for a
    // permission failure follows instead of a message about the launcher.
    for (const TrashFailure& failure : privileged.failed) {
        auto own = std::find_if(refused.begin(), refused.end(),
                                [&](const TrashFailure& r) { return r.url == failure.url; });
        result.failed.push_back(own != refused.end() ? *own : failure);
    }
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
