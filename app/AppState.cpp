#include "app/AppState.h"

#include <QDir>
#include <algorithm>
#include <atomic>
#include <cassert>
#include <functional>
#include <thread>
#include <utility>

#include "app/UninstallOutcome.h"
#include "app/disk/Formatters.h"
#include "app/localization/LocalizationManager.h"

namespace cb {

namespace {

// True when `node` belongs to the tree whose root is `root`.
bool isInTree(const FileNode* node, const FileNode* root) {
    if (node == nullptr || root == nullptr) {
        return false;
    }
    const FileNode* top = node;
    while (top->parent() != nullptr) {
        top = top->parent();
    }
    return top == root;
}

// `after` - `before`, saturated to the int64 range.
int64_t saturatingDifference(int64_t after, int64_t before) {
    int64_t difference = 0;
    if (__builtin_sub_overflow(after, before, &difference)) {
        return after > before ? INT64_MAX : INT64_MIN;
    }
    return difference;
}

// Runs a scan's walk on a thread that nobody joins. A walker blocked in a system call on a mount
// that never answers cannot be interrupted, and cancelling or quitting must not wait for it. The
// job shares ownership of all it touches (the runner, its task flag and the state's handle, which
// drops posts once the state is gone), so it may end whenever it ends, or never.
void runDetached(std::function<void()> job) {
    std::thread(std::move(job)).detach();
}

using MeasureBundle =
    std::function<int64_t(const std::filesystem::path&, const std::atomic<bool>*)>;

// Measures `bundles` (id and bundle of each application) on at most `width` threads of this
// group, started in list order, and posts each size to the state as it finishes. Returns when
// every measurement has ended; once `task` is cancelled no measurement starts and no size is
// posted.
void measureBundles(const std::vector<std::pair<QUuid, std::filesystem::path>>& bundles,
                    size_t width, const MeasureBundle& measure,
                    const std::shared_ptr<AppState::AppsTask>& task,
                    const std::shared_ptr<StateHandle<AppState>>& handle,
                    const std::function<void(AppState&, QUuid, int64_t)>& apply) {
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (;;) {
            if (task->isCancelled()) {
                return;
            }
            const size_t index = next.fetch_add(1, std::memory_order_relaxed);
            if (index >= bundles.size()) {
                return;
            }
            const auto& [id, bundle] = bundles[index];
            const int64_t size = measure(bundle, task->stopFlag());
            if (task->isCancelled()) {
                return;
            }
            handle->post([apply, id = id, size](AppState& state) { apply(state, id, size); });
        }
    };
    std::vector<std::jthread> group;
    for (size_t i = 0; i < std::min(width, bundles.size()); ++i) {
        group.emplace_back(worker);
    }
}  // the group joins here

}  // namespace

// The task that runs one scan; cancelling it makes its result vanish without effect.
struct AppState::ScanTask {
    std::atomic<bool> cancelled{false};
};

// One move to the Trash under way. `node` is reset (UI thread only) when the node leaves the
// tree before the move ends, so the completion never follows a pointer into freed nodes.
struct AppState::PendingDelete {
    FileNode* node;
};

AppState::AppState(AppServices services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      handle_(std::make_shared<StateHandle<AppState>>(this)) {}

AppState::~AppState() {
    handle_->invalidate();
    if (scanner_) {
        scanner_->cancel();
    }
    if (scanTask_) {
        scanTask_->cancelled = true;
    }
    if (appsTask_) {
        appsTask_->cancel();
    }
    stopSearches_->store(true, std::memory_order_release);
    work_.waitForAll();
}

// ---- Published fields ----

void AppState::setPhase(Phase phase) {
    phase_ = std::move(phase);
    emit phaseChanged();
}

void AppState::setFocus(FileNode* node) {
    assert(node == nullptr || isInTree(node, root_.get()));
    focus_ = node;
    emit focusChanged();
}

void AppState::setHovered(FileNode* node) {
    assert(node == nullptr || isInTree(node, root_.get()));
    hovered_ = node;
    emit hoveredChanged();
}

void AppState::setDeleteCandidate(FileNode* node) {
    assert(node == nullptr || isInTree(node, root_.get()));
    deleteCandidate_ = node;
    emit deleteCandidateChanged();
}

void AppState::setErrorMessage(std::optional<std::string> message) {
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

void AppState::setNeedsFullDiskAccess(bool value) {
    needsFullDiskAccess_ = value;
    emit needsFullDiskAccessChanged();
}

void AppState::setFdaPromptForURL(std::optional<std::filesystem::path> location) {
    fdaPromptForURL_ = std::move(location);
    emit fdaPromptForURLChanged();
}

void AppState::setIsRefreshing(bool value) {
    isRefreshing_ = value;
    emit isRefreshingChanged();
}

void AppState::setVolumeCapacity(std::optional<VolumeInfo::Capacity> capacity) {
    volumeCapacity_ = capacity;
    emit volumeCapacityChanged();
}

void AppState::setThinningSnapshots(bool value) {
    thinningSnapshots_ = value;
    emit thinningSnapshotsChanged();
}

void AppState::setLocalSnapshotCount(int64_t count) {
    localSnapshotCount_ = count;
    emit localSnapshotCountChanged();
}

void AppState::setConfirmThinSnapshots(bool value) {
    confirmThinSnapshots_ = value;
    emit confirmThinSnapshotsChanged();
}

void AppState::setThinResultMessage(std::optional<std::string> message) {
    thinResultMessage_ = std::move(message);
    emit thinResultMessageChanged();
}

void AppState::setMode(Mode mode) {
    mode_ = mode;
    emit modeChanged();
}

void AppState::setApps(std::vector<std::shared_ptr<InstalledApp>> apps) {
    apps_ = std::move(apps);
    emit appsChanged();
}

void AppState::setAppsLoading(bool value) {
    appsLoading_ = value;
    emit appsLoadingChanged();
}

void AppState::setUninstallCandidate(std::shared_ptr<InstalledApp> app) {
    uninstallCandidate_ = std::move(app);
    emit uninstallCandidateChanged();
}

void AppState::setPermissionPrompt(std::optional<UninstallPermissionPrompt> prompt) {
    permissionPrompt_ = std::move(prompt);
    emit permissionPromptChanged();
}

// ---- Scan flow ----

void AppState::scanEntireMac() {
    logEvent(AnalyticsEvent::scanStartedEntireMac);
    startScan("/");
}

void AppState::scanHome() {
    logEvent(AnalyticsEvent::scanStartedHome);
    startScan(QDir::homePath().toStdString());
}

void AppState::chooseFolder() {
    if (!services_.chooseFolder) {
        return;
    }
    const LocalizationManager& loc = LocalizationManager::shared();
    std::optional<std::filesystem::path> chosen =
        services_.chooseFolder(loc.text("panel.message"), loc.text("panel.prompt"));
    if (!chosen || chosen->empty()) {
        return;
    }
    logEvent(AnalyticsEvent::scanStartedFolder);
    startScan(*chosen);
}

void AppState::startScan(const std::filesystem::path& location) {
    if (!services_.isProtectedLocation(location)) {
        scan(location, std::nullopt);
        return;
    }
    // The access probe reads folders and may block; it runs off the UI thread. A later
    // startScan() or scan() supersedes this one.
    const uint64_t request = ++accessCheck_;
    runInBackground([handle = handle_, probe = services_.hasFullDiskAccess, location, request] {
        const bool access = probe();
        handle->post([location, request, access](AppState& state) {
            state.finishAccessCheck(request, location, access);
        });
    });
}

void AppState::finishAccessCheck(uint64_t request, const std::filesystem::path& location,
                                 bool hasAccess) {
    if (request != accessCheck_) {
        return;
    }
    if (hasAccess) {
        scan(location, std::nullopt);
    } else {
        setFdaPromptForURL(location);
    }
}

void AppState::scanAfterAccessPrompt() {
    if (!fdaPromptForURL_) {
        return;
    }
    std::filesystem::path location = *fdaPromptForURL_;
    setFdaPromptForURL(std::nullopt);
    scan(location, std::nullopt);
}

void AppState::refresh() {
    if (!rootURL_ || isRefreshing_) {
        return;
    }
    std::optional<std::string> focusPath;
    if (focus_ != nullptr) {
        focusPath = focus_->path();
    }
    setIsRefreshing(true);
    scan(*rootURL_, std::move(focusPath));
}

void AppState::scan(const std::filesystem::path& location, std::optional<std::string> focusPath) {
    if (scanner_) {
        scanner_->cancel();
    }
    scanGeneration_ = QUuid::createUuid();
    ++accessCheck_;  // an access check still under way no longer starts its scan
    const QUuid generation = scanGeneration_;
    rootURL_ = location;
    readVolumeCapacity(location);
    if (scanTask_) {
        scanTask_->cancelled = true;
    }
    ScanProgress start;
    start.currentPath = location.string();
    setPhase(Phase::scanning(std::move(start)));
    scanner_ = services_.makeScanner(makeProgressHandler(generation));
    scanTask_ = std::make_shared<ScanTask>();
    // Linux has no security-scoped access to ask for or give back: the scan runs with the
    // process's own rights. The walk runs detached (see runDetached); what ends the scan and
    // may block as well (the volume's capacity, the access probe) runs on a joined worker, since
    // it calls the services, which must not outlive the state.
    runDetached([handle = handle_, scanner = scanner_, task = scanTask_, generation,
                 focusPath = std::move(focusPath), location] {
        std::shared_ptr<FileNode> root = scanner->scan(location);
        if (task->cancelled) {
            return;  // the partial tree is freed here, off the UI thread
        }
        const int64_t denied = scanner->foldersDeniedAccess();
        handle->post([generation, root = std::move(root), denied, focusPath,
                      location](AppState& state) mutable {
            state.readScanEnd(generation, std::move(root), denied, focusPath, location);
        });
    });
}

void AppState::readScanEnd(const QUuid& generation, std::shared_ptr<FileNode> root,
                           int64_t foldersDenied, const std::optional<std::string>& focusPath,
                           const std::filesystem::path& location) {
    if (generation != scanGeneration_) {
        releaseInBackground(std::move(root));
        return;
    }
    // statvfs of a dead network mount hangs, and the UI thread must not.
    runInBackground([handle = handle_, capacity = services_.capacity,
                     probe = services_.hasFullDiskAccess, generation, focusPath, location,
                     root = std::move(root), foldersDenied]() mutable {
        ScanResult result;
        result.root = std::move(root);
        result.capacity = capacity(location);
        // The banner asks for access, so only folders closed to us raise it; folders cut by the
        // depth limit or a stalled mount are still marked in the tree.
        result.needsFullDiskAccess = foldersDenied >= 1 && !probe();
        handle->post([generation, result = std::move(result), focusPath](AppState& state) mutable {
            state.finishScan(generation, std::move(result), focusPath);
        });
    });
}

void AppState::readVolumeCapacity(const std::filesystem::path& location) {
    runInBackground([handle = handle_, capacity = services_.capacity, location] {
        std::optional<VolumeInfo::Capacity> read = capacity(location);
        handle->post([read, location](AppState& state) {
            // Only while the toolbar still shows this location.
            if (state.rootURL_ == location) {
                state.setVolumeCapacity(read);
            }
        });
    });
}

ScanProgressHandler AppState::makeProgressHandler(const QUuid& generation) {
    // Runs on the scanner's threads: it only hands the report to the UI thread. It holds the
    // handle, never the state, so a destroyed state is out of its reach.
    return [handle = handle_, generation](const ScanProgress& report) {
        handle->post(
            [report, generation](AppState& state) { state.applyScanProgress(report, generation); });
    };
}

void AppState::applyScanProgress(const ScanProgress& report, const QUuid& generation) {
    if (generation != scanGeneration_ || !phase_.isScanning()) {
        return;
    }
    // Reports of several walkers can arrive out of order; never show fewer files than shown.
    if (report.filesScanned < phase_.progress().filesScanned) {
        return;
    }
    setPhase(Phase::scanning(report));
}

void AppState::finishScan(const QUuid& generation, ScanResult result,
                          const std::optional<std::string>& focusPath) {
    if (generation != scanGeneration_) {
        releaseInBackground(std::move(result.root));
        return;
    }
    // The walk is over: its scanner (with its allocation record) is not needed any more.
    scanner_.reset();
    scanTask_.reset();
    installTree(std::move(result.root), focusPath);
    setVolumeCapacity(result.capacity);
    setPhase(Phase::ready());
    setIsRefreshing(false);
    setNeedsFullDiskAccess(result.needsFullDiskAccess);
    sdk::Value::Dictionary parameters;
    parameters.emplace("size_bytes", sdk::Value(static_cast<int64_t>(root_->size())));
    parameters.emplace("children_count",
                       sdk::Value(static_cast<int64_t>(root_->children().size())));
    logEvent(AnalyticsEvent::scanCompleted, std::move(parameters));
}

void AppState::installTree(std::shared_ptr<FileNode> root,
                           const std::optional<std::string>& focusPath) {
    std::shared_ptr<FileNode> old = std::exchange(root_, std::move(root));
    emit rootChanged();
    const std::string rootPath = root_->path();
    FileNode* focus = root_.get();
    if (focusPath && !focusPath->empty()) {
        if (FileNode* found = findNode(*root_, rootPath, *focusPath)) {
            focus = found;
        }
    }
    setFocus(focus);
    setHovered(nullptr);
    if (deleteCandidate_ != nullptr && !isInTree(deleteCandidate_, root_.get())) {
        // A delete dialog left open over a rescan keeps its item if the new tree has it.
        setDeleteCandidate(findNode(*root_, rootPath, deleteCandidate_->path()));
    }
    if (old != root_) {
        detachPendingDeletes(nullptr);
        releaseInBackground(std::move(old));
    }
}

void AppState::cancelScan() {
    scanGeneration_ = QUuid::createUuid();
    if (scanner_) {
        scanner_->cancel();
    }
    if (scanTask_) {
        scanTask_->cancelled = true;
    }
    scanner_.reset();
    scanTask_.reset();
    setIsRefreshing(false);
    setPhase(Phase::welcome());
}

FileNode* AppState::findNode(FileNode& node, const std::string& nodePath,
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

// ---- Delete flow ----

void AppState::confirmDelete() {
    if (deleteCandidate_ == nullptr) {
        return;
    }
    FileNode* node = deleteCandidate_;
    setDeleteCandidate(nullptr);
    const int64_t size = node->size();
    const bool isDirectory = node->isDirectory();
    auto pending = std::make_shared<PendingDelete>(PendingDelete{node});
    pendingDeletes_.push_back(pending);
    runInBackground([handle = handle_, recycle = services_.recycle, path = node->path(), size,
                     isDirectory, pending] {
        RecycleOutcome failure = recycle(path, isDirectory);
        handle->post([failure, size, isDirectory, pending](AppState& state) {
            if (failure) {
                state.detachPending(pending);
                state.setErrorMessage(*failure);
            } else {
                state.handleDeleteResult(pending, size, isDirectory);
            }
        });
    });
}

void AppState::handleDeleteResult(const std::shared_ptr<PendingDelete>& pending, int64_t size,
                                  bool isDirectory) {
    detachPending(pending);
    sdk::Value::Dictionary parameters;
    parameters.emplace("size_bytes", sdk::Value(size));
    parameters.emplace("is_directory", sdk::Value(isDirectory));
    logEvent(AnalyticsEvent::itemDeleted, std::move(parameters));
    FileNode* node = pending->node;
    if (node != nullptr && node == root_.get()) {
        resetToWelcome();
        return;
    }
    if (node != nullptr) {
        removeFromTree(*node);
    }
    // Observers redraw the chart and panels from the changed tree.
    emit rootChanged();
}

void AppState::removeFromTree(FileNode& node) {
    FileNode* parent = node.parent();
    assert(parent != nullptr);
    // Nothing may point into the subtree once it is freed.
    if (focus_ != nullptr && isSameOrDescendant(focus_, &node)) {
        setFocus(parent);
    }
    if (hovered_ != nullptr && isSameOrDescendant(hovered_, &node)) {
        setHovered(nullptr);
    }
    if (deleteCandidate_ != nullptr && isSameOrDescendant(deleteCandidate_, &node)) {
        setDeleteCandidate(nullptr);
    }
    detachPendingDeletes(&node);
    releaseInBackground(parent->removeChild(&node));
}

void AppState::resetToWelcome() {
    cancelScan();
    std::shared_ptr<FileNode> old = std::move(root_);
    root_.reset();
    emit rootChanged();
    setFocus(nullptr);
    setHovered(nullptr);
    if (deleteCandidate_ != nullptr) {
        setDeleteCandidate(nullptr);  // it pointed into the deleted tree
    }
    rootURL_.reset();
    setVolumeCapacity(std::nullopt);
    setIsRefreshing(false);
    setPhase(Phase::welcome());
    detachPendingDeletes(nullptr);
    releaseInBackground(std::move(old));
}

void AppState::detachPending(const std::shared_ptr<PendingDelete>& pending) {
    std::erase(pendingDeletes_, pending);
}

void AppState::detachPendingDeletes(const FileNode* subtree) {
    std::erase_if(pendingDeletes_, [subtree](const std::shared_ptr<PendingDelete>& pending) {
        if (subtree != nullptr && !isSameOrDescendant(pending->node, subtree)) {
            return false;
        }
        pending->node = nullptr;
        return true;
    });
}

// ---- Snapshot and access flows ----

void AppState::refreshSnapshotCount() {
    runInBackground([handle = handle_, count = services_.countLocalSnapshots] {
        const int64_t snapshots = count(kThinMountPoint);
        handle->post([snapshots](AppState& state) { state.setLocalSnapshotCount(snapshots); });
    });
}

void AppState::thinSnapshots() {
    if (thinningSnapshots_) {
        return;
    }
    setConfirmThinSnapshots(false);
    setThinningSnapshots(true);
    runInBackground([handle = handle_, capacity = services_.capacity,
                     thin = services_.thinLocalSnapshots, count = services_.countLocalSnapshots,
                     scanned = rootURL_] {
        // An unreadable capacity counts as 0 free bytes.
        auto freeBytes = [&capacity] {
            std::optional<VolumeInfo::Capacity> c = capacity(kThinMountPoint);
            return c ? c->free : int64_t{0};
        };
        const int64_t before = freeBytes();
        thin(kThinAmount, kThinMountPoint, kThinUrgency);
        const int64_t after = freeBytes();
        const int64_t snapshots = count(kThinMountPoint);
        // The scanned volume may have gained the space too: its capacity is read again here.
        std::optional<VolumeInfo::Capacity> scannedCapacity;
        if (scanned) {
            scannedCapacity = capacity(*scanned);
        }
        handle->post([after, before, snapshots, scanned, scannedCapacity](AppState& state) {
            state.finishThinning(after, before, snapshots);
            if (scanned && state.rootURL_ == scanned) {
                state.setVolumeCapacity(scannedCapacity);
            }
        });
    });
}

void AppState::finishThinning(int64_t freeAfter, int64_t freeBefore, int64_t snapshotCount) {
    setThinningSnapshots(false);
    setLocalSnapshotCount(snapshotCount);
    const int64_t difference = saturatingDifference(freeAfter, freeBefore);
    const int64_t freed = std::max<int64_t>(difference, 0);
    sdk::Value::Dictionary parameters;
    parameters.emplace("freed_bytes", sdk::Value(freed));
    logEvent(AnalyticsEvent::snapshotsThinned, std::move(parameters));
    const LocalizationManager& loc = LocalizationManager::shared();
    if (difference < 1) {
        setThinResultMessage(loc.text("snapshots.result.none"));
    } else {
        setThinResultMessage(loc.format("snapshots.result.freed", {byteFormatter().string(freed)}));
    }
}

void AppState::revealInFinder(const FileNode& node) {
    services_.revealInFileViewer(node.path(), node.isDirectory());
}

// ---- Apps-mode flows ----

void AppState::loadApps() {
    if (appsLoading_) {
        return;
    }
    setAppsLoading(true);
    if (appsTask_) {
        appsTask_->cancel();
    }
    auto task = std::make_shared<AppsTask>();
    appsTask_ = task;
    runInBackground([handle = handle_, list = services_.listInstalledApps,
                     measure = services_.measureBundleSize, task] {
        std::vector<std::shared_ptr<InstalledApp>> apps = list(task->stopFlag());
        if (task->isCancelled()) {
            return;
        }
        // The measurements take the list as listed, not as apps holds it later on.
        std::vector<std::pair<QUuid, std::filesystem::path>> bundles;
        bundles.reserve(apps.size());
        for (const std::shared_ptr<InstalledApp>& app : apps) {
            bundles.emplace_back(app->id(), app->url());
        }
        handle->post([task, apps = std::move(apps)](AppState& state) mutable {
            state.publishApps(task, std::move(apps));
        });
        measureBundles(bundles, kMaxConcurrentMeasurements, measure, task, handle,
                       [task](AppState& state, QUuid id, int64_t size) {
                           state.applyBundleSize(task, id, size);
                       });
    });
}

void AppState::publishApps(const std::shared_ptr<AppsTask>& task,
                           std::vector<std::shared_ptr<InstalledApp>> apps) {
    if (task->isCancelled()) {
        return;
    }
    // Both fields change before either signal, so no observer sees the list still loading.
    apps_ = std::move(apps);
    appsLoading_ = false;
    emit appsChanged();
    emit appsLoadingChanged();
}

void AppState::applyBundleSize(const std::shared_ptr<AppsTask>& task, const QUuid& id,
                               int64_t size) {
    if (task->isCancelled()) {
        return;
    }
    auto it =
        std::find_if(apps_.begin(), apps_.end(),
                     [&id](const std::shared_ptr<InstalledApp>& app) { return app->id() == id; });
    if (it == apps_.end()) {
        return;  // the application left the list meanwhile
    }
    (*it)->setBundleSize(size);
    emit changed();
}

void AppState::loadRelated(const std::shared_ptr<InstalledApp>& app) {
    assert(app != nullptr);
    if (app->relatedLoaded() || app->relatedLoading()) {
        return;
    }
    app->setRelatedLoading(true);
    // The worker gets copies of the fixed fields and only a weak reference, so an application
    // dropped from the list meanwhile is not kept alive by its search.
    runInBackground([handle = handle_, find = services_.findRelatedFiles,
                     weak = std::weak_ptr<InstalledApp>(app), bundleID = app->bundleID(),
                     name = app->name(), bundle = app->url(), stop = stopSearches_] {
        std::vector<RelatedFile> files = find(bundleID, name, bundle, stop.get());
        if (stop->load(std::memory_order_acquire)) {
            return;
        }
        handle->post([weak, files = std::move(files)](AppState& state) {
            std::shared_ptr<InstalledApp> target = weak.lock();
            if (!target) {
                return;
            }
            target->setRelated(files);
            target->setRelatedLoaded(true);
            target->setRelatedLoading(false);
            emit state.changed();
        });
    });
}

void AppState::requestUninstall(const std::shared_ptr<InstalledApp>& app) {
    loadRelated(app);
    setUninstallCandidate(app);
}

void AppState::startUninstall(const std::vector<std::filesystem::path>& urls) {
    if (!uninstallCandidate_) {
        return;
    }
    std::shared_ptr<InstalledApp> app = uninstallCandidate_;
    if (!app->relatedLoaded() || app->isRunning()) {
        return;  // the dialog stays
    }
    setUninstallCandidate(nullptr);
    // The move is joined with the rest of the state's work, so a batch is never cut short; its
    // outcome is dropped when the state is gone by then.
    runInBackground([handle = handle_, recycleBatch = services_.recycleBatch, urls, app] {
        TrashBatchResult result = recycleBatch(urls);
        handle->post([app, result = std::move(result)](AppState& state) {
            state.handleUninstallResult(app, result.succeeded, result.failed, app->url());
        });
    });
}

void AppState::handleUninstallResult(const std::shared_ptr<InstalledApp>& app,
                                     const std::vector<std::filesystem::path>& moved,
                                     const std::vector<TrashFailure>& failures,
                                     const std::filesystem::path& bundleURL) {
    assert(app != nullptr);
    auto wasMoved = [&moved](const std::filesystem::path& url) {
        return std::find(moved.begin(), moved.end(), url) != moved.end();
    };
    std::vector<RelatedFile> kept;
    for (const RelatedFile& file : app->related()) {
        if (!wasMoved(file.url)) {
            kept.push_back(file);
        }
    }
    if (kept.size() != app->related().size()) {
        app->setRelated(std::move(kept));
        emit changed();
    }
    if (wasMoved(bundleURL)) {
        std::vector<std::shared_ptr<InstalledApp>> remaining;
        for (const std::shared_ptr<InstalledApp>& listed : apps_) {
            if (listed->id() != app->id()) {
                remaining.push_back(listed);
            }
        }
        setApps(std::move(remaining));
        sdk::Value::Dictionary parameters;
        parameters.emplace("bundle_id", sdk::Value(app->bundleID()));
        logEvent(AnalyticsEvent::appUninstalled, std::move(parameters));
    }
    reportUninstallFailures(moved.size(), failures);
}

void AppState::reportUninstallFailures(size_t movedCount,
                                       const std::vector<TrashFailure>& failures) {
    if (failures.empty()) {
        return;
    }
    std::vector<std::filesystem::path> refused;
    for (const TrashFailure& failure : failures) {
        if (isPermissionFailure(failure)) {
            refused.push_back(failure.url);
        }
    }
    if (refused.empty()) {
        setErrorMessage(LocalizationManager::shared().format(
            "trash.summary", {movedCount, failures.size(), failureLines(failures)}));
        return;
    }
    const NeededPermissions needed = neededPermissions(refused);
    UninstallPermissionPrompt prompt;
    prompt.needsAppManagement = needed.appManagement;
    prompt.needsFullDiskAccess = needed.fullDiskAccess;
    for (const std::filesystem::path& path : refused) {
        prompt.failedPaths.push_back(path.string());
    }
    prompt.succeededCount = static_cast<int64_t>(movedCount);
    setPermissionPrompt(std::move(prompt));
}

void AppState::revealApp(const InstalledApp& app) {
    services_.revealInFileViewer(app.url(), true);
}

void AppState::openApp(const InstalledApp& app) {
    if (services_.openApplication) {
        services_.openApplication(app.url());
    }
}

// ---- Helpers ----

void AppState::logEvent(AnalyticsEvent event, std::optional<sdk::Value::Dictionary> parameters) {
    if (services_.logEvent) {
        services_.logEvent(event, std::move(parameters));
    }
}

void AppState::runInBackground(std::function<void()> work) {
    work_.run(std::move(work));
}

void AppState::releaseInBackground(std::shared_ptr<FileNode> tree) {
    if (tree && tree.use_count() == 1) {
        runInBackground([tree = std::move(tree)]() mutable { tree.reset(); });
    }
}

void AppState::releaseInBackground(std::unique_ptr<FileNode> subtree) {
    releaseInBackground(std::shared_ptr<FileNode>(std::move(subtree)));
}

std::string_view rawValue(AppState::Mode mode) {
    switch (mode) {
        case AppState::Mode::folder:
            return "folder";
        case AppState::Mode::apps:
            return "apps";
    }
    return "folder";
}

std::optional<AppState::Mode> modeFromRawValue(std::string_view raw) {
    for (AppState::Mode mode : AppState::kAllModes) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

}  // namespace cb
