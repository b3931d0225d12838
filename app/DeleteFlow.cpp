#include "app/DeleteFlow.h"

#include <algorithm>
#include <cassert>
#include <optional>
#include <string>
#include <utility>

#include "app/AppState.h"
#include "app/ScanFlow.h"
#include "app/disk/Formatters.h"
#include "app/localization/LocalizationManager.h"

namespace cb {

namespace {

// `after` - `before`, saturated to the int64 range.
int64_t saturatingDifference(int64_t after, int64_t before) {
    int64_t difference = 0;
    if (__builtin_sub_overflow(after, before, &difference)) {
        return after > before ? INT64_MAX : INT64_MIN;
    }
    return difference;
}

}  // namespace

// One move to the Trash under way. `node` is reset (UI thread only) when the node leaves the
// tree before the move ends, so the completion never follows a pointer into freed nodes.
struct DeleteFlow::PendingDelete {
    FileNode* node;
};

DeleteFlow::DeleteFlow(AppState& state) : state_(state) {}

DeleteFlow::~DeleteFlow() = default;

void DeleteFlow::confirmDelete() {
    if (state_.deleteCandidate_ == nullptr) {
        return;
    }
    FileNode* node = state_.deleteCandidate_;
    state_.setDeleteCandidate(nullptr);
    const int64_t size = node->size();
    const bool isDirectory = node->isDirectory();
    auto pending = std::make_shared<PendingDelete>(PendingDelete{node});
    pendingDeletes_.push_back(pending);
    state_.runInBackground([handle = state_.handle_, recycle = state_.services_.recycle,
                            path = node->path(), size, isDirectory, pending] {
        RecycleOutcome failure = recycle(path, isDirectory);
        handle->post([failure, size, isDirectory, pending](AppState& state) {
            DeleteFlow& flow = *state.deleteFlow_;
            if (failure) {
                flow.detachPending(pending);
                state.setErrorMessage(*failure);
            } else {
                flow.handleDeleteResult(pending, size, isDirectory);
            }
        });
    });
}

void DeleteFlow::handleDeleteResult(const std::shared_ptr<PendingDelete>& pending, int64_t size,
                                    bool isDirectory) {
    detachPending(pending);
    sdk::Value::Dictionary parameters;
    parameters.emplace("size_bytes", sdk::Value(size));
    parameters.emplace("is_directory", sdk::Value(isDirectory));
    state_.logEvent(AnalyticsEvent::itemDeleted, std::move(parameters));
    FileNode* node = pending->node;
    if (node != nullptr && node == state_.root_.get()) {
        resetToWelcome();
        return;
    }
    if (node != nullptr) {
        removeFromTree(*node);
    }
    // Observers redraw the chart and panels from the changed tree.
    emit state_.rootChanged();
}

void DeleteFlow::removeFromTree(FileNode& node) {
    FileNode* parent = node.parent();
    assert(parent != nullptr);
    // Nothing may point into the subtree once it is freed.
    if (state_.focus_ != nullptr && isSameOrDescendant(state_.focus_, &node)) {
        state_.setFocus(parent);
    }
    if (state_.hovered_ != nullptr && isSameOrDescendant(state_.hovered_, &node)) {
        state_.setHovered(nullptr);
    }
    if (state_.deleteCandidate_ != nullptr && isSameOrDescendant(state_.deleteCandidate_, &node)) {
        state_.setDeleteCandidate(nullptr);
    }
    detachPendingDeletes(&node);
    state_.releaseInBackground(parent->removeChild(&node));
}

void DeleteFlow::resetToWelcome() {
    state_.scanFlow_->cancelScan();
    std::shared_ptr<FileNode> old = std::move(state_.root_);
    state_.root_.reset();
    emit state_.rootChanged();
    state_.setFocus(nullptr);
    state_.setHovered(nullptr);
    if (state_.deleteCandidate_ != nullptr) {
        state_.setDeleteCandidate(nullptr);  // it pointed into the deleted tree
    }
    state_.rootURL_.reset();
    state_.setVolumeCapacity(std::nullopt);
    state_.setIsRefreshing(false);
    state_.setPhase(AppState::Phase::welcome());
    detachPendingDeletes(nullptr);
    state_.releaseInBackground(std::move(old));
}

void DeleteFlow::detachPending(const std::shared_ptr<PendingDelete>& pending) {
    std::erase(pendingDeletes_, pending);
}

void DeleteFlow::detachPendingDeletes(const FileNode* subtree) {
    std::erase_if(pendingDeletes_, [subtree](const std::shared_ptr<PendingDelete>& pending) {
        if (subtree != nullptr && !isSameOrDescendant(pending->node, subtree)) {
            return false;
        }
        pending->node = nullptr;
        return true;
    });
}

void DeleteFlow::refreshSnapshotCount() {
    state_.runInBackground([handle = state_.handle_, count = state_.services_.countLocalSnapshots] {
        const int64_t snapshots = count(AppState::kThinMountPoint);
        handle->post([snapshots](AppState& state) { state.setLocalSnapshotCount(snapshots); });
    });
}

void DeleteFlow::thinSnapshots() {
    if (state_.thinningSnapshots_) {
        return;
    }
    state_.setConfirmThinSnapshots(false);
    state_.setThinningSnapshots(true);
    const AppServices& services = state_.services_;
    state_.runInBackground([handle = state_.handle_, capacity = services.capacity,
                            thin = services.thinLocalSnapshots,
                            count = services.countLocalSnapshots, scanned = state_.rootURL_] {
        // An unreadable capacity counts as 0 free bytes.
        auto freeBytes = [&capacity] {
            std::optional<VolumeInfo::Capacity> c = capacity(AppState::kThinMountPoint);
            return c ? c->free : int64_t{0};
        };
        const int64_t before = freeBytes();
        thin(AppState::kThinAmount, AppState::kThinMountPoint, AppState::kThinUrgency);
        const int64_t after = freeBytes();
        const int64_t snapshots = count(AppState::kThinMountPoint);
        // The scanned volume may have gained the space too: its capacity is read again here.
        std::optional<VolumeInfo::Capacity> scannedCapacity;
        if (scanned) {
            scannedCapacity = capacity(*scanned);
        }
        handle->post([after, before, snapshots, scanned, scannedCapacity](AppState& state) {
            state.deleteFlow_->finishThinning(after, before, snapshots);
            if (scanned && state.rootURL_ == scanned) {
                state.setVolumeCapacity(scannedCapacity);
            }
        });
    });
}

void DeleteFlow::finishThinning(int64_t freeAfter, int64_t freeBefore, int64_t snapshotCount) {
    state_.setThinningSnapshots(false);
    state_.setLocalSnapshotCount(snapshotCount);
    const int64_t difference = saturatingDifference(freeAfter, freeBefore);
    const int64_t freed = std::max<int64_t>(difference, 0);
    sdk::Value::Dictionary parameters;
    parameters.emplace("freed_bytes", sdk::Value(freed));
    state_.logEvent(AnalyticsEvent::snapshotsThinned, std::move(parameters));
    const LocalizationManager& loc = LocalizationManager::shared();
    if (difference < 1) {
        state_.setThinResultMessage(loc.text("snapshots.result.none"));
    } else {
        state_.setThinResultMessage(
            loc.format("snapshots.result.freed", {byteFormatter().string(freed)}));
    }
}

}  // namespace cb
