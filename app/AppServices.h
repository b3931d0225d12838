#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ads/AnalyticsEvent.h"
#include "app/disk/FileNode.h"
#include "app/disk/ScanProgress.h"
#include "app/disk/TrashError.h"
#include "app/disk/VolumeInfo.h"
#include "app/uninstaller/InstalledApp.h"
#include "app/uninstaller/RelatedFile.h"
#include "sdk/utilities/Value.h"

namespace cb {

// Receives the scanner's progress reports, on the scanner's worker threads.
using ScanProgressHandler = std::function<void(const ScanProgress&)>;

// One scan as AppState drives it. The real one wraps Scanner; tests script their own.
class ScanRunner {
  public:
    virtual ~ScanRunner() = default;

    // Walks `location` and returns the root of its tree (never null). Blocks until the walk is
    // over; called on a worker thread, once per runner.
    virtual std::unique_ptr<FileNode> scan(const std::filesystem::path& location) = 0;

    // Asks a running scan to stop soon; scan() then returns a partial tree. Thread-safe, may be
    // called before, during or after scan().
    virtual void cancel() = 0;

    // Folders the walk could not open for want of permission; other inaccessible folders (cut
    // by the depth limit, say) do not count. Read after scan() has returned.
    virtual int64_t foldersDeniedAccess() const = 0;
};

// Makes the runner of one scan; its reports go to `handler` (safe to call from any thread, at
// any time). Called on the UI thread.
using ScannerFactory = std::function<std::shared_ptr<ScanRunner>(ScanProgressHandler handler)>;

// The outcome of moving one item to the Trash: nullopt on success, else the text shown to the
// user (the error's localised description).
using RecycleOutcome = std::optional<std::string>;

// Everything AppState asks of the world outside it. AppServices::system() gives the real
// services; tests replace single members with doubles. Unless said otherwise a member is called
// on the UI thread.
struct AppServices {
    // Makes the runner of each scan.
    ScannerFactory makeScanner;

    // Moves the item at `path` (a folder when `isDirectory`) to the Trash. Worker thread.
    std::function<RecycleOutcome(const std::filesystem::path& path, bool isDirectory)> recycle;

    // Counts the local snapshots of `mountPoint`. Worker thread; may block on a child process.
    std::function<int64_t(const std::string& mountPoint)> countLocalSnapshots;

    // Asks the system to thin the local snapshots of `mountPoint` by `amount` bytes at
    // `urgency`; the tool's output is not used. Worker thread; may block on a child process.
    std::function<void(int64_t amount, const std::string& mountPoint, int urgency)>
        thinLocalSnapshots;

    // The capacity of the volume that holds `location`, or nullopt when it cannot be read. Worker
    // thread (statvfs of a dead network mount blocks); may be called by several at once.
    std::function<std::optional<VolumeInfo::Capacity>(const std::filesystem::path& location)>
        capacity;

    // True when scanning `location` needs Full Disk Access to see everything. Looks at the path
    // only, so it may run on the UI thread.
    std::function<bool(const std::filesystem::path& location)> isProtectedLocation;

    // True when the process has Full Disk Access right now. Worker thread (the probes read
    // folders); may be called by several at once.
    std::function<bool()> hasFullDiskAccess;

    // Runs a modal panel for choosing one folder, with `message` above it and `prompt` on its
    // default button. Returns the chosen folder, or nullopt when the panel was cancelled. Not
    // set in a build without a window: chooseFolder() then does nothing.
    std::function<std::optional<std::filesystem::path>(const std::string& message,
                                                       const std::string& prompt)>
        chooseFolder;

    // Shows the item at `path` (a folder when `isDirectory`) selected in the file viewer.
    std::function<void(const std::filesystem::path& path, bool isDirectory)> revealInFileViewer;

    // Sends one usage event; `parameters` is nullopt for an event without parameters.
    std::function<void(AnalyticsEvent event, std::optional<sdk::Value::Dictionary> parameters)>
        logEvent;

    // ---- Apps mode. A `stop` flag, when raised, asks the call to end early; its result is then
    // dropped, so a partial one is fine. ----

    // The installed applications in the default application folders, sorted by name. Worker
    // thread; blocks on the file system.
    std::function<std::vector<std::shared_ptr<InstalledApp>>(const std::atomic<bool>* stop)>
        listInstalledApps;

    // Allocated bytes of the application bundle at `bundle`. Worker thread; several calls run at
    // once.
    std::function<int64_t(const std::filesystem::path& bundle, const std::atomic<bool>* stop)>
        measureBundleSize;

    // What the application keeps outside its bundle, in path order. Worker thread.
    std::function<std::vector<RelatedFile>(const std::string& bundleID, const std::string& name,
                                           const std::filesystem::path& bundle,
                                           const std::atomic<bool>* stop)>
        findRelatedFiles;

    // Starts the application in the bundle at `bundle`, detached; the outcome is not reported.
    std::function<void(const std::filesystem::path& bundle)> openApplication;

    // Moves `urls` to the Trash, retrying items refused for lack of permission with
    // administrator rights; every item ends in exactly one list of the result. Worker thread;
    // blocks until done, the administrator dialog included.
    std::function<TrashBatchResult(const std::vector<std::filesystem::path>& urls)> recycleBatch;

    // The real services: the disk scanner, the freedesktop.org Trash, the snapshot tool, statvfs
    // capacities, the access probes, the desktop's file manager and the analytics interface. The
    // folder panel needs Qt Widgets, so the window installs it (chooseFolder stays unset here).
    static AppServices system();
};

}  // namespace cb
