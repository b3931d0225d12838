#pragma once

#include <QObject>
#include <QUuid>
#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/AppServices.h"
#include "app/AppsTask.h"
#include "app/BackgroundWork.h"
#include "app/StateHandle.h"
#include "app/disk/FileNode.h"
#include "app/disk/ScanProgress.h"
#include "app/disk/VolumeInfo.h"
#include "app/uninstaller/InstalledApp.h"

namespace cb {

class AccessFlow;
class AppsFlow;
class DeleteFlow;
class ScanFlow;

// The one owner of everything the main window shows and does: the scanned tree and the focus on
// it, the running scan with its generation stamp, the folder mode's phase, the state of the
// delete, snapshot and Full Disk Access flows, and the apps mode with its uninstall flow. Views
// read its fields and end every user action in one of its methods.
//
// Design notes
// ------------
// Threads. AppState lives on the UI thread; every field is read and written there, and each
// published field has a change signal emitted after every write (also a write of the same
// value). Long work (the walk, moving to the Trash, the snapshot tool) runs on threads of the
// state's own BackgroundWork and comes back through a StateHandle by queued call. The destructor
// invalidates the handle, cancels the scan and joins that work, so no work outlives the state and
// no result reaches a destroyed one. The walk alone runs on a thread that is never joined (it may
// hang on a dead mount): it shares ownership of what it uses and only reaches the state through
// the handle.
//
// Scan generations. Every scan is stamped with a fresh UUID in scanGeneration; starting or
// cancelling a scan replaces it. Progress reports and results carry their scan's stamp and are
// dropped unless it is still current.
//
// Node pointers. root owns the tree; focus, hovered and deleteCandidate point into it. Whenever
// the tree is replaced or a subtree removed, those pointers are moved or cleared before the old
// nodes are freed (a replaced tree or removed subtree is freed by a background job, off the UI
// thread). A move to the Trash that is still running when its node leaves the tree (the tree was
// replaced, or an enclosing folder was deleted first) still logs its event but no longer touches
// the tree.
//
// Flows. The state holds the fields and their signals; the work behind its actions lives in one
// flow object per room, each owned by the state: ScanFlow (starting, following, finishing and
// cancelling a scan), AccessFlow (the Full Disk Access gate in front of a scan), DeleteFlow
// (moving nodes to the Trash, going back to the welcome screen, counting and thinning local
// snapshots) and AppsFlow (the applications list, related files and uninstalls). The actions
// below hand over to them; results come back through the handle to the flow that started them.
//
// Invariants:
//   1. focus, hovered and deleteCandidate, when set, are nodes of the tree under root.
//   2. ScanFlow's scanner and scan task belong to the scan stamped with scanGeneration, or are
//      unset.
//   3. phase is scanning only between the start of a scan and its completion or cancellation.
//   4. rootURL is set when a scan starts and cleared only when the scanned root is deleted.
//
// Phase transitions:
//   any      --scan(url:focusPath:)------------------> scanning (zero counters, the location)
//   scanning --current report with files >= shown----> scanning (that report)
//   scanning --current walk ends (finishScan)--------> ready
//   any      --cancelScan()---------------------------> welcome
//   any      --root itself deleted (resetToWelcome)--> welcome
class AppState : public QObject {
    Q_OBJECT

  public:
    // What the folder mode shows: the welcome screen, the progress screen with the last report,
    // or the chart. Switched over by the views; it has no equality.
    class Phase {
      public:
        enum class Kind { scanning, welcome, ready };

        static Phase welcome() { return Phase(Kind::welcome, {}); }
        static Phase ready() { return Phase(Kind::ready, {}); }
        static Phase scanning(ScanProgress progress) {
            return Phase(Kind::scanning, std::move(progress));
        }

        Kind kind() const { return kind_; }
        bool isScanning() const { return kind_ == Kind::scanning; }

        // The report shown by the progress screen.
        // REQUIRES: kind() == Kind::scanning.
        const ScanProgress& progress() const { return progress_; }

      private:
        Phase(Kind kind, ScanProgress progress) : kind_(kind), progress_(std::move(progress)) {}

        Kind kind_;
        ScanProgress progress_;
    };

    // The window's two top-level modes; the raw value of each is its name.
    enum class Mode { folder, apps };

    // Every mode, in the order the mode picker lists them.
    static constexpr std::array<Mode, 2> kAllModes = {Mode::folder, Mode::apps};

    // An uninstall whose remainder needs a system permission. Two prompts are equal when all
    // five fields are; each prompt draws a fresh id, so a new prompt never equals an earlier one.
    struct UninstallPermissionPrompt {
        QUuid id = QUuid::createUuid();
        bool needsAppManagement = false;
        bool needsFullDiskAccess = false;
        std::vector<std::string> failedPaths;  // file-system paths that could not be moved
        int64_t succeededCount = 0;            // items that were moved

        friend bool operator==(const UninstallPermissionPrompt&,
                               const UninstallPermissionPrompt&) = default;
    };

    // The thinning request of the reclaim action: every evictable local snapshot of "/".
    static constexpr const char* kThinMountPoint = "/";
    static constexpr int64_t kThinAmount = 536'870'912'000;  // 500 x 2^30 bytes
    static constexpr int kThinUrgency = 4;

    // A fresh state: the welcome screen in the folder mode, every optional unset, every flag
    // false, no snapshots counted. Starts nothing. `services` defaults to the real ones.
    explicit AppState(AppServices services = AppServices::system(), QObject* parent = nullptr);

    // Stops the running scan and waits for every piece of work the state started; results still
    // on their way are dropped.
    ~AppState() override;

    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // ---- Published fields. Each setter emits the field's change signal. ----

    const Phase& phase() const { return phase_; }
    void setPhase(Phase phase);

    // Root of the scanned tree, or null. Owned by the state; replaced only by a finished scan
    // and cleared by resetToWelcome().
    FileNode* root() const { return root_.get(); }

    // The node the chart is centred on (last element of the breadcrumb), or null.
    // REQUIRES for the setter: null or a node of the tree under root().
    FileNode* focus() const { return focus_; }
    void setFocus(FileNode* node);

    // The node under the pointer, or null. REQUIRES for the setter: as for setFocus().
    FileNode* hovered() const { return hovered_; }
    void setHovered(FileNode* node);

    // The node awaiting delete confirmation; the delete dialog is shown while it is set.
    // REQUIRES for the setter: as for setFocus().
    FileNode* deleteCandidate() const { return deleteCandidate_; }
    void setDeleteCandidate(FileNode* node);

    // Text of the error alert, shown while set.
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }
    void setErrorMessage(std::optional<std::string> message);

    // The Full Disk Access banner is shown.
    bool needsFullDiskAccess() const { return needsFullDiskAccess_; }
    void setNeedsFullDiskAccess(bool value);

    // The location held back while the Full Disk Access prompt is shown.
    const std::optional<std::filesystem::path>& fdaPromptForURL() const { return fdaPromptForURL_; }
    void setFdaPromptForURL(std::optional<std::filesystem::path> location);

    // A rescan of the current location with focus restore is running.
    bool isRefreshing() const { return isRefreshing_; }
    void setIsRefreshing(bool value);

    // Capacity of the volume of the scanned location (toolbar), or nullopt.
    const std::optional<VolumeInfo::Capacity>& volumeCapacity() const { return volumeCapacity_; }
    void setVolumeCapacity(std::optional<VolumeInfo::Capacity> capacity);

    // Local snapshots are being thinned.
    bool thinningSnapshots() const { return thinningSnapshots_; }
    void setThinningSnapshots(bool value);

    // Number of local snapshots of the start-up volume.
    int64_t localSnapshotCount() const { return localSnapshotCount_; }
    void setLocalSnapshotCount(int64_t count);

    // The thinning confirmation alert is shown.
    bool confirmThinSnapshots() const { return confirmThinSnapshots_; }
    void setConfirmThinSnapshots(bool value);

    // Text of the thinning result alert, shown while set.
    const std::optional<std::string>& thinResultMessage() const { return thinResultMessage_; }
    void setThinResultMessage(std::optional<std::string> message);

    // The window's top-level mode.
    Mode mode() const { return mode_; }
    void setMode(Mode mode);

    // ---- Apps mode: published fields. ----

    // The installed applications of the apps mode, in listing order (by name). Each element is
    // non-null; the state shares them with the views.
    const std::vector<std::shared_ptr<InstalledApp>>& apps() const { return apps_; }
    void setApps(std::vector<std::shared_ptr<InstalledApp>> apps);

    // The applications list is being built.
    bool appsLoading() const { return appsLoading_; }
    void setAppsLoading(bool value);

    // The application whose uninstall dialog is shown, or null.
    const std::shared_ptr<InstalledApp>& uninstallCandidate() const { return uninstallCandidate_; }
    void setUninstallCandidate(std::shared_ptr<InstalledApp> app);

    // The uninstall whose remainder needs a system permission; the permission dialog is shown
    // while it is set.
    const std::optional<UninstallPermissionPrompt>& permissionPrompt() const {
        return permissionPrompt_;
    }
    void setPermissionPrompt(std::optional<UninstallPermissionPrompt> prompt);

    // ---- Plain fields. ----

    // Location of the current or last scan; a refresh rescans it.
    const std::optional<std::filesystem::path>& rootURL() const { return rootURL_; }

    // Stamp of the current scan; replaced whenever a scan starts or is cancelled.
    const QUuid& scanGeneration() const { return scanGeneration_; }

    // The task building the applications list and measuring their bundles (AppsTask.h).
    using AppsTask = cb::AppsTask;

    // The running apps task, or null when none was started. Cancelled by the list's reload.
    const std::shared_ptr<AppsTask>& appsTask() const { return appsTask_; }

    // ---- Scan flow. ----

    // The welcome screen's scan-entire-volume action: logs "scan_started_entire_mac", then
    // startScan("/").
    void scanEntireMac();

    // The welcome screen's scan-home action: logs "scan_started_home", then startScan() with the
    // user's home folder.
    void scanHome();

    // The welcome screen's pick-folder action: runs the folder panel; on a chosen folder logs
    // "scan_started_folder" and calls startScan(). A cancelled panel does nothing.
    void chooseFolder();

    // The Full Disk Access gate: a protected location without Full Disk Access is held in
    // fdaPromptForURL (the prompt shows); anything else is scanned. An ordinary location is
    // scanned at once; for a protected one the access probe runs in the background first, and
    // a later startScan() or scan() supersedes it.
    void startScan(const std::filesystem::path& location);

    // Scans the location held in fdaPromptForURL without testing the access again, and clears
    // it. Does nothing when nothing is held.
    void scanAfterAccessPrompt();

    // Rescans rootURL and restores the focus to the same path in the new tree (the root when the
    // path is gone). Does nothing without rootURL or while a refresh runs.
    void refresh();

    // Starts a new scan generation of `location`, stopping any running scan. `focusPath` is the
    // full path of the node to focus when the scan ends, or nullopt for the root.
    void scan(const std::filesystem::path& location, std::optional<std::string> focusPath);

    // Stops the running scan and shows the welcome screen. The last tree stays in root.
    void cancelScan();

    // ---- Delete, snapshot and access flows. ----

    // Moves deleteCandidate to the Trash (clearing it at once). On success the tree shrinks in
    // place and "item_deleted" is logged; on failure errorMessage is set and nothing else
    // changes. Does nothing when no candidate is set.
    void confirmDelete();

    // Recounts the local snapshots of the start-up volume in the background.
    void refreshSnapshotCount();

    // Thins the local snapshots of the start-up volume and reports the space won in
    // thinResultMessage. Does nothing while a thinning runs.
    void thinSnapshots();

    // Shows `node` selected in the desktop's file manager.
    void revealInFinder(const FileNode& node);

    // Returns the node of the subtree under `node` whose path is `target`, or null. `nodePath` is
    // the full path of `node`. Visits one branch per level: a child is entered only when its path
    // followed by "/" is a prefix of the target.
    static FileNode* findNode(FileNode& node, const std::string& nodePath,
                              const std::string& target);

    // Back to the welcome screen ("New scan", or after the scanned root itself was deleted):
    // stops any scan, clears root, focus, hovered, root URL and volume capacity, ends refreshing.
    void resetToWelcome();

    // ---- Apps-mode flows. ----

    // At most this many bundle sizes are measured at once per listing.
    static constexpr int kMaxConcurrentMeasurements = 4;

    // Builds the applications list. Does nothing while appsLoading is true. Otherwise sets
    // appsLoading, cancels the running apps task and starts a new one: it lists the applications
    // on a worker thread, then (unless cancelled) sets apps and clears appsLoading before either
    // change signal is sent, then measures the bundle sizes of that list, at most
    // kMaxConcurrentMeasurements at once, started in list order. Each size is applied as it
    // finishes to the application of apps with the same id (dropped when it left the list),
    // followed by changed(). A cancelled task starts no more measurements and applies nothing.
    void loadApps();

    // Finds the files `app` keeps outside its bundle, once: does nothing while a search for it
    // runs or after one delivered. The search runs on a worker thread holding `app` weakly; its
    // result goes into `app`'s related (relatedLoaded set, relatedLoading cleared), followed by
    // changed(). REQUIRES: app is non-null.
    void loadRelated(const std::shared_ptr<InstalledApp>& app);

    // The list's uninstall request: starts the related-file search for `app` and makes it the
    // uninstall candidate.
    void requestUninstall(const std::shared_ptr<InstalledApp>& app);

    // The uninstall dialog's confirm action with the chosen items (bundle first). Does nothing
    // without a candidate, before its related-file search delivered, or while it runs (asked
    // afresh; the dialog then stays). Otherwise clears uninstallCandidate and moves `urls` to the
    // Trash on a worker; the outcome goes to handleUninstallResult() on the UI thread.
    void startUninstall(const std::vector<std::filesystem::path>& urls);

    // Applies the outcome of an uninstall of `app` whose bundle is `bundleURL`: moved items leave
    // app's related (the rest keep their order); a moved bundle removes the application from
    // apps and logs "app_uninstalled" {"bundle_id"}. Failures without a permission reason set
    // errorMessage to "trash.summary" with one "• name: reason" line each; with permission
    // reasons, permissionPrompt is set instead (flags from where those items lie, their paths,
    // the moved count) and the other failures are not reported. REQUIRES: app is non-null.
    void handleUninstallResult(const std::shared_ptr<InstalledApp>& app,
                               const std::vector<std::filesystem::path>& moved,
                               const std::vector<TrashFailure>& failures,
                               const std::filesystem::path& bundleURL);

    // Shows the application's bundle selected in the desktop's file manager.
    void revealApp(const InstalledApp& app);

    // Starts the application; the outcome is not reported.
    void openApp(const InstalledApp& app);

  signals:
    // A change that no field's signal covers: a bundle size or a related-file list was applied
    // to one of apps.
    void changed();

    void phaseChanged();
    void rootChanged();
    void focusChanged();
    void hoveredChanged();
    void deleteCandidateChanged();
    void errorMessageChanged();
    void needsFullDiskAccessChanged();
    void fdaPromptForURLChanged();
    void isRefreshingChanged();
    void volumeCapacityChanged();
    void thinningSnapshotsChanged();
    void localSnapshotCountChanged();
    void confirmThinSnapshotsChanged();
    void thinResultMessageChanged();
    void modeChanged();
    void appsChanged();
    void appsLoadingChanged();
    void uninstallCandidateChanged();
    void permissionPromptChanged();

  private:
    // The flows, one per room of work; each reads and writes the fields below through this
    // state, so every change goes through the setters and signals above.
    friend class ScanFlow;
    friend class AccessFlow;
    friend class DeleteFlow;
    friend class AppsFlow;

    // Helpers of the flows.
    void logEvent(AnalyticsEvent event,
                  std::optional<sdk::Value::Dictionary> parameters = std::nullopt);
    void runInBackground(std::function<void()> work);
    void releaseInBackground(std::shared_ptr<FileNode> tree);
    void releaseInBackground(std::unique_ptr<FileNode> subtree);

    AppServices services_;

    // Published fields.
    Phase phase_ = Phase::welcome();
    std::shared_ptr<FileNode> root_;
    FileNode* focus_ = nullptr;            // non-owning, inside root_
    FileNode* hovered_ = nullptr;          // non-owning, inside root_
    FileNode* deleteCandidate_ = nullptr;  // non-owning, inside root_
    std::optional<std::string> errorMessage_;
    bool needsFullDiskAccess_ = false;
    std::optional<std::filesystem::path> fdaPromptForURL_;
    bool isRefreshing_ = false;
    std::optional<VolumeInfo::Capacity> volumeCapacity_;
    bool thinningSnapshots_ = false;
    int64_t localSnapshotCount_ = 0;
    bool confirmThinSnapshots_ = false;
    std::optional<std::string> thinResultMessage_;
    Mode mode_ = Mode::folder;
    std::vector<std::shared_ptr<InstalledApp>> apps_;
    bool appsLoading_ = false;
    std::shared_ptr<InstalledApp> uninstallCandidate_;
    std::optional<UninstallPermissionPrompt> permissionPrompt_;

    // Plain fields.
    std::optional<std::filesystem::path> rootURL_;
    QUuid scanGeneration_ = QUuid::createUuid();
    std::shared_ptr<AppsTask> appsTask_;

    const std::shared_ptr<StateHandle<AppState>> handle_;

    // The flows' own state (the running scanner, the moves to the Trash under way ...).
    const std::unique_ptr<ScanFlow> scanFlow_;
    const std::unique_ptr<AccessFlow> accessFlow_;
    const std::unique_ptr<DeleteFlow> deleteFlow_;
    const std::unique_ptr<AppsFlow> appsFlow_;

    BackgroundWork work_;  // declared last: joined before the fields its jobs report to go
};

// Returns the mode's raw value: "folder" or "apps".
std::string_view rawValue(AppState::Mode mode);

// Returns the mode whose raw value is exactly `raw`, or nullopt ("Folder" gives none).
std::optional<AppState::Mode> modeFromRawValue(std::string_view raw);

}  // namespace cb
