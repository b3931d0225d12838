#pragma once

#include <QUuid>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/AppsTask.h"
#include "app/disk/TrashError.h"
#include "app/uninstaller/InstalledApp.h"

namespace cb {

class AppState;

// The apps-mode flows of AppState: the applications list built and its bundle sizes measured,
// each application's related files found, and an uninstall started and its outcome turned into
// list changes, a usage event, a permission prompt or a summary text. Results of background work
// are applied on the UI thread; a cancelled apps task applies nothing. UI thread only; owned by
// the state and alive as long as it.
class AppsFlow {
  public:
    explicit AppsFlow(AppState& state) : state_(state) {}

    AppsFlow(const AppsFlow&) = delete;
    AppsFlow& operator=(const AppsFlow&) = delete;

    // The actions of AppState with the same names.
    void loadApps();
    void loadRelated(const std::shared_ptr<InstalledApp>& app);
    void requestUninstall(const std::shared_ptr<InstalledApp>& app);
    void startUninstall(const std::vector<std::filesystem::path>& urls);
    void handleUninstallResult(const std::shared_ptr<InstalledApp>& app,
                               const std::vector<std::filesystem::path>& moved,
                               const std::vector<TrashFailure>& failures,
                               const std::filesystem::path& bundleURL);

    // Stops the running apps task and the related-file searches; for the state's destructor.
    void stop();

  private:
    void publishApps(const std::shared_ptr<AppsTask>& task,
                     std::vector<std::shared_ptr<InstalledApp>> apps);
    void applyBundleSize(const std::shared_ptr<AppsTask>& task, const QUuid& id, int64_t size);
    void reportUninstallFailures(size_t movedCount, const std::vector<TrashFailure>& failures);

    AppState& state_;
    // Raised by stop(): related-file searches still running stop early.
    const std::shared_ptr<std::atomic<bool>> stopSearches_ = std::make_shared<std::atomic<bool>>();
};

}  // namespace cb
