#pragma once

#include <QCoreApplication>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/AppServices.h"
#include "app/AppState.h"
#include "app/disk/FileNode.h"

namespace cb::testing {

// The Qt application every AppState test needs (events only, no windows).
inline void ensureCoreApplication() {
    static int argc = 1;
    static char name[] = "appstate_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() != nullptr
                                       ? QCoreApplication::instance()
                                       : new QCoreApplication(argc, argv);
    (void)app;
}

// Processes events until `done` holds (or 5 s pass); returns the last result.
template <class Predicate>
bool waitFor(Predicate done) {
    return QTest::qWaitFor(done, 5000);
}

// Builds a tree rooted at `rootPath` from file paths relative to it, each with its size; folders
// are made on the way. Totals and inaccessible counts are summed up the tree and children
// sorted, as a scan leaves them.
// A path ending in "/" makes an empty folder.
std::unique_ptr<FileNode> buildTree(const std::string& rootPath,
                                    const std::vector<std::pair<std::string, int64_t>>& entries);

// Returns the node at `relative` below `root` ("a/b"), or null.
FileNode* nodeAt(FileNode& root, const std::string& relative);

// A scan that the test drives: it blocks in scan() until the test hands it a tree with finish()
// or the state cancels it; the test sends progress reports through report().
class ScriptedScanner : public ScanRunner {
  public:
    explicit ScriptedScanner(ScanProgressHandler handler) : handler_(std::move(handler)) {}

    std::unique_ptr<FileNode> scan(const std::filesystem::path& location) override;
    void cancel() override;
    int64_t foldersDeniedAccess() const override;

    // Sends a report as the scanner's worker threads would (any thread).
    void report(int64_t files, const std::string& currentPath, int64_t bytes = 0);

    // Ends the walk with `tree` (it becomes scan()'s result), `foldersDenied` of its folders
    // having been closed to the walk.
    void finish(std::unique_ptr<FileNode> tree, int64_t foldersDenied = 0);

    // Blocks until scan() has been entered; returns the location it was given.
    std::filesystem::path waitUntilStarted();

    bool cancelled() const;
    bool returned() const;

  private:
    ScanProgressHandler handler_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::filesystem::path> location_;  // guarded by mutex_
    std::unique_ptr<FileNode> result_;               // guarded by mutex_
    int64_t foldersDenied_ = 0;                      // guarded by mutex_
    bool finished_ = false;                          // guarded by mutex_
    bool cancelled_ = false;                         // guarded by mutex_
    bool returned_ = false;                          // guarded by mutex_
};

// One usage event as the sink saw it.
struct LoggedEvent {
    AnalyticsEvent event;
    std::optional<sdk::Value::Dictionary> parameters;
};

// A barrier the apps-mode doubles wait at: a call blocks until the test lets it pass (one call per
// pass(), or all with openFully()) or until its stop flag is raised.
class Gate {
  public:
    // Blocks until a pass is granted, the gate is open or `*stop` is true (stop may be null).
    void wait(const std::atomic<bool>* stop);
    void pass(int calls = 1);
    void openFully();
    // Calls blocked in wait() right now.
    int waiting() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int passes_ = 0;     // guarded by mutex_
    bool open_ = false;  // guarded by mutex_
    int waiting_ = 0;    // guarded by mutex_
};

// Doubles of the apps-mode services. Knobs are set before the state calls them; records are
// read by the test on any thread (each behind its mutex or atomic).
class FakeApps {
  public:
    // Makes an application with the given name and identifier, bundle "/Apps/<name>.app".
    static std::shared_ptr<InstalledApp> makeApp(const std::string& name,
                                                 const std::string& bundleID = {});

    // What the next listings return (each call returns this list). Set before loadApps().
    void setListing(std::vector<std::shared_ptr<InstalledApp>> apps);
    // Every listing waits at this gate when holdListing is set.
    std::atomic<bool> holdListing{false};
    Gate listingGate;
    std::atomic<int> listings{0};

    // Sizes: every measurement waits at measureGate when holdMeasurements is set and returns
    // sizeOf(bundle): 1000 plus the bundle's position in the last listing.
    std::atomic<bool> holdMeasurements{false};
    Gate measureGate;
    std::atomic<int> inFlight{0};
    std::atomic<int> maxInFlight{0};
    std::vector<std::filesystem::path> measured() const;  // in order of start
    int64_t sizeOf(const std::filesystem::path& bundle) const;

    // Related-file searches: each waits at relatedGate when holdRelated is set, then returns
    // relatedResult.
    std::atomic<bool> holdRelated{false};
    Gate relatedGate;
    std::atomic<int> relatedSearches{0};
    std::vector<RelatedFile> relatedResult;

    std::vector<std::filesystem::path> opened;  // UI thread

    // Moves to the Trash: each batch is recorded, then answered by trashAnswer, or as all moved
    // when it is unset. Set before the state calls it.
    std::function<TrashBatchResult(const std::vector<std::filesystem::path>&)> trashAnswer;
    std::vector<std::vector<std::filesystem::path>> batches() const;  // in order of call

    void install(AppServices& services);

  private:
    mutable std::mutex mutex_;
    std::vector<std::vector<std::filesystem::path>> batches_;  // guarded by mutex_
    std::vector<std::shared_ptr<InstalledApp>> listing_;       // guarded by mutex_
    std::vector<std::filesystem::path> measured_;              // guarded by mutex_
};

// Test doubles for every service of AppState, with knobs and records. The services it hands out
// refer to this object, so it must outlive the state.
class FakeWorld {
  public:
    // The services, all doubles.
    AppServices services();

    // Scanners made so far, in order.
    std::vector<std::shared_ptr<ScriptedScanner>> scanners;
    // Events logged so far, in order.
    std::vector<LoggedEvent> events;

    // Set these before the state asks; the probes and capacities are read on worker threads.
    bool protectedLocation = false;
    bool fullDiskAccess = true;
    std::atomic<int> fullDiskAccessProbes = 0;
    std::optional<VolumeInfo::Capacity> capacity = VolumeInfo::Capacity{1000, 400, 400};

    // Locations whose capacity was read so far, in order.
    std::vector<std::filesystem::path> capacityQueries() const;
    std::deque<std::optional<std::filesystem::path>> chooserAnswers;
    std::vector<std::pair<std::string, std::string>> chooserTexts;
    std::vector<std::pair<std::filesystem::path, bool>> revealed;
    FakeApps apps;

    // Event names logged so far.
    std::vector<std::string> eventNames() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::filesystem::path> capacityQueries_;  // guarded by mutex_
};

}  // namespace cb::testing
