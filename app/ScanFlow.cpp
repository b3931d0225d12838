#include "app/ScanFlow.h"

#include <QDir>
#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "app/AccessFlow.h"
#include "app/AppState.h"
#include "app/DeleteFlow.h"
#include "app/localization/LocalizationManager.h"

namespace cb {

namespace {

// Runs a scan's walk on a thread that nobody joins. A walker blocked in a system call on a mount
// that never answers cannot be interrupted, and cancelling or quitting must not wait for it. The
// job shares ownership of all it touches (the runner, its task flag and the state's handle, which
// drops posts once the state is gone), so it may end whenever it ends, or never.
void runDetached(std::function<void()> job) {
    std::thread(std::move(job)).detach();
}

}  // namespace

// The task that runs one scan; cancelling it makes its result vanish without effect.
struct ScanFlow::ScanTask {
    std::atomic<bool> cancelled{false};
};

ScanFlow::ScanFlow(AppState& state) : state_(state) {}

ScanFlow::~ScanFlow() = default;

void ScanFlow::stop() {
    if (scanner_) {
        scanner_->cancel();
    }
    if (scanTask_) {
        scanTask_->cancelled = true;
    }
}

void ScanFlow::scanEntireMac() {
    state_.logEvent(AnalyticsEvent::scanStartedEntireMac);
    state_.accessFlow_->startScan("/");
}

void ScanFlow::scanHome() {
    state_.logEvent(AnalyticsEvent::scanStartedHome);
    state_.accessFlow_->startScan(QDir::homePath().toStdString());
}

void ScanFlow::chooseFolder() {
    if (!state_.services_.chooseFolder) {
        return;
    }
    const LocalizationManager& loc = LocalizationManager::shared();
    std::optional<std::filesystem::path> chosen =
        state_.services_.chooseFolder(loc.text("panel.message"), loc.text("panel.prompt"));
    if (!chosen || chosen->empty()) {
        return;
    }
    state_.logEvent(AnalyticsEvent::scanStartedFolder);
    state_.accessFlow_->startScan(*chosen);
}

void ScanFlow::refresh() {
    if (!state_.rootURL_ || state_.isRefreshing_) {
        return;
    }
    std::optional<std::string> focusPath;
    if (state_.focus_ != nullptr) {
        focusPath = state_.focus_->path();
    }
    state_.setIsRefreshing(true);
    scan(*state_.rootURL_, std::move(focusPath));
}

void ScanFlow::scan(const std::filesystem::path& location, std::optional<std::string> focusPath) {
    if (scanner_) {
        scanner_->cancel();
    }
    state_.scanGeneration_ = QUuid::createUuid();
    state_.accessFlow_->supersede();  // an access check still under way no longer starts its scan
    const QUuid generation = state_.scanGeneration_;
    state_.rootURL_ = location;
    readVolumeCapacity(location);
    if (scanTask_) {
        scanTask_->cancelled = true;
    }
    ScanProgress start;
    start.currentPath = location.string();
    state_.setPhase(AppState::Phase::scanning(std::move(start)));
    scanner_ = state_.services_.makeScanner(makeProgressHandler(generation));
    scanTask_ = std::make_shared<ScanTask>();
    // Linux has no security-scoped access to ask for or give back: the scan runs with the
    // process's own rights. The walk runs detached (see runDetached); what ends the scan and
    // may block as well (the volume's capacity, the access probe) runs on a joined worker, since
    // it calls the services, which must not outlive the state.
    runDetached([handle = state_.handle_, scanner = scanner_, task = scanTask_, generation,
                 focusPath = std::move(focusPath), location] {
        std::shared_ptr<FileNode> root = scanner->scan(location);
        if (task->cancelled) {
            return;  // the partial tree is freed here, off the UI thread
        }
        const int64_t denied = scanner->foldersDeniedAccess();
        handle->post([generation, root = std::move(root), denied, focusPath,
                      location](AppState& state) mutable {
            state.scanFlow_->readScanEnd(generation, std::move(root), denied, focusPath, location);
        });
    });
}

void ScanFlow::readScanEnd(const QUuid& generation, std::shared_ptr<FileNode> root,
                           int64_t foldersDenied, const std::optional<std::string>& focusPath,
                           const std::filesystem::path& location) {
    if (generation != state_.scanGeneration_) {
        state_.releaseInBackground(std::move(root));
        return;
    }
    // statvfs of a dead network mount hangs, and the UI thread must not.
    state_.runInBackground([handle = state_.handle_, capacity = state_.services_.capacity,
                            probe = state_.services_.hasFullDiskAccess, generation, focusPath,
                            location, root = std::move(root), foldersDenied]() mutable {
        ScanResult result;
        result.root = std::move(root);
        result.capacity = capacity(location);
        // The banner asks for access, so only folders closed to us raise it; folders cut by the
        // depth limit or a stalled mount are still marked in the tree.
        result.needsFullDiskAccess = foldersDenied >= 1 && !probe();
        handle->post([generation, result = std::move(result), focusPath](AppState& state) mutable {
            state.scanFlow_->finishScan(generation, std::move(result), focusPath);
        });
    });
}

void ScanFlow::readVolumeCapacity(const std::filesystem::path& location) {
    state_.runInBackground(
        [handle = state_.handle_, capacity = state_.services_.capacity, location] {
            std::optional<VolumeInfo::Capacity> read = capacity(location);
            handle->post([read, location](AppState& state) {
                // Only while the toolbar still shows this location.
                if (state.rootURL_ == location) {
                    state.setVolumeCapacity(read);
                }
            });
        });
}

ScanProgressHandler ScanFlow::makeProgressHandler(const QUuid& generation) {
    // Runs on the scanner's threads: it only hands the report to the UI thread. It holds the
    // handle, never the state, so a destroyed state is out of its reach.
    return [handle = state_.handle_, generation](const ScanProgress& report) {
        handle->post([report, generation](AppState& state) {
            state.scanFlow_->applyScanProgress(report, generation);
        });
    };
}

void ScanFlow::applyScanProgress(const ScanProgress& report, const QUuid& generation) {
    if (generation != state_.scanGeneration_ || !state_.phase_.isScanning()) {
        return;
    }
    // Reports of several walkers can arrive out of order; never show fewer files than shown.
    if (report.filesScanned < state_.phase_.progress().filesScanned) {
        return;
    }
    state_.setPhase(AppState::Phase::scanning(report));
}

void ScanFlow::finishScan(const QUuid& generation, ScanResult result,
                          const std::optional<std::string>& focusPath) {
    if (generation != state_.scanGeneration_) {
        state_.releaseInBackground(std::move(result.root));
        return;
    }
    // The walk is over: its scanner (with its allocation record) is not needed any more.
    scanner_.reset();
    scanTask_.reset();
    installTree(std::move(result.root), focusPath);
    state_.setVolumeCapacity(result.capacity);
    state_.setPhase(AppState::Phase::ready());
    state_.setIsRefreshing(false);
    state_.setNeedsFullDiskAccess(result.needsFullDiskAccess);
    const FileNode& root = *state_.root_;
    sdk::Value::Dictionary parameters;
    parameters.emplace("size_bytes", sdk::Value(static_cast<int64_t>(root.size())));
    parameters.emplace("children_count", sdk::Value(static_cast<int64_t>(root.children().size())));
    state_.logEvent(AnalyticsEvent::scanCompleted, std::move(parameters));
}

void ScanFlow::installTree(std::shared_ptr<FileNode> root,
                           const std::optional<std::string>& focusPath) {
    std::shared_ptr<FileNode> old = std::exchange(state_.root_, std::move(root));
    emit state_.rootChanged();
    FileNode& installed = *state_.root_;
    const std::string rootPath = installed.path();
    FileNode* focus = &installed;
    if (focusPath && !focusPath->empty()) {
        if (FileNode* found = findNode(installed, rootPath, *focusPath)) {
            focus = found;
        }
    }
    state_.setFocus(focus);
    state_.setHovered(nullptr);
    FileNode* candidate = state_.deleteCandidate_;
    if (candidate != nullptr && !isSameOrDescendant(candidate, &installed)) {
        // A delete dialog left open over a rescan keeps its item if the new tree has it.
        state_.setDeleteCandidate(findNode(installed, rootPath, candidate->path()));
    }
    if (old != state_.root_) {
        state_.deleteFlow_->detachPendingDeletes(nullptr);
        state_.releaseInBackground(std::move(old));
    }
}

void ScanFlow::cancelScan() {
    state_.scanGeneration_ = QUuid::createUuid();
    stop();
    scanner_.reset();
    scanTask_.reset();
    state_.setIsRefreshing(false);
    state_.setPhase(AppState::Phase::welcome());
}

FileNode* ScanFlow::findNode(FileNode& node, const std::string& nodePath,
                             const std::string& target) {
    if (nodePath == target) {
        return &node;
    }
    std::string prefix = nodePath;
    if (prefix.empty() || prefix.back() != '/') {
        prefix += '/';
    }
    if (!target.starts_with(prefix)) {
        return nullptr;
    }
    for (const std::unique_ptr<FileNode>& child : node.children()) {
        if (FileNode* found = findNode(*child, prefix + child->name(), target)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace cb
