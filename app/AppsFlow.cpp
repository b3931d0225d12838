#include "app/AppsFlow.h"

#include <algorithm>
#include <cassert>
#include <functional>
#include <thread>
#include <utility>

#include "app/AppState.h"
#include "app/UninstallOutcome.h"
#include "app/localization/LocalizationManager.h"

namespace cb {

namespace {

using MeasureBundle =
    std::function<int64_t(const std::filesystem::path&, const std::atomic<bool>*)>;

// Measures `bundles` (id and bundle of each application) on at most `width` threads of this
// group, started in list order, and posts each size to the state as it finishes. Returns when
// every measurement has ended; once `task` is cancelled no measurement starts and no size is
// posted.
void measureBundles(const std::vector<std::pair<QUuid, std::filesystem::path>>& bundles,
                    size_t width, const MeasureBundle& measure,
                    const std::shared_ptr<AppsTask>& task,
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

void AppsFlow::stop() {
    if (state_.appsTask_) {
        state_.appsTask_->cancel();
    }
    stopSearches_->store(true, std::memory_order_release);
}

void AppsFlow::loadApps() {
    if (state_.appsLoading_) {
        return;
    }
    state_.setAppsLoading(true);
    if (state_.appsTask_) {
        state_.appsTask_->cancel();
    }
    auto task = std::make_shared<AppsTask>();
    state_.appsTask_ = task;
    state_.runInBackground([handle = state_.handle_, list = state_.services_.listInstalledApps,
                            measure = state_.services_.measureBundleSize, task] {
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
            state.appsFlow_->publishApps(task, std::move(apps));
        });
        measureBundles(bundles, AppState::kMaxConcurrentMeasurements, measure, task, handle,
                       [task](AppState& state, QUuid id, int64_t size) {
                           state.appsFlow_->applyBundleSize(task, id, size);
                       });
    });
}

void AppsFlow::publishApps(const std::shared_ptr<AppsTask>& task,
                           std::vector<std::shared_ptr<InstalledApp>> apps) {
    if (task->isCancelled()) {
        return;
    }
    // Both fields change before either signal, so no observer sees the list still loading.
    state_.apps_ = std::move(apps);
    state_.appsLoading_ = false;
    emit state_.appsChanged();
    emit state_.appsLoadingChanged();
}

void AppsFlow::applyBundleSize(const std::shared_ptr<AppsTask>& task, const QUuid& id,
                               int64_t size) {
    if (task->isCancelled()) {
        return;
    }
    const std::vector<std::shared_ptr<InstalledApp>>& apps = state_.apps_;
    auto it =
        std::find_if(apps.begin(), apps.end(),
                     [&id](const std::shared_ptr<InstalledApp>& app) { return app->id() == id; });
    if (it == apps.end()) {
        return;  // the application left the list meanwhile
    }
    (*it)->setBundleSize(size);
    emit state_.changed();
}

void AppsFlow::loadRelated(const std::shared_ptr<InstalledApp>& app) {
    assert(app != nullptr);
    if (app->relatedLoaded() || app->relatedLoading()) {
        return;
    }
    app->setRelatedLoading(true);
    // The worker gets copies of the fixed fields and only a weak reference, so an application
    // dropped from the list meanwhile is not kept alive by its search.
    state_.runInBackground([handle = state_.handle_, find = state_.services_.findRelatedFiles,
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

void AppsFlow::requestUninstall(const std::shared_ptr<InstalledApp>& app) {
    loadRelated(app);
    state_.setUninstallCandidate(app);
}

void AppsFlow::startUninstall(const std::vector<std::filesystem::path>& urls) {
    if (!state_.uninstallCandidate_) {
        return;
    }
    std::shared_ptr<InstalledApp> app = state_.uninstallCandidate_;
    if (!app->relatedLoaded() || app->isRunning()) {
        return;  // the dialog stays
    }
    state_.setUninstallCandidate(nullptr);
    // The move is joined with the rest of the state's work, so a batch is never cut short; its
    // outcome is dropped when the state is gone by then.
    state_.runInBackground(
        [handle = state_.handle_, recycleBatch = state_.services_.recycleBatch, urls, app] {
            TrashBatchResult result = recycleBatch(urls);
            handle->post([app, result = std::move(result)](AppState& state) {
                state.handleUninstallResult(app, result.succeeded, result.failed, app->url());
            });
        });
}

void AppsFlow::handleUninstallResult(const std::shared_ptr<InstalledApp>& app,
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
        emit state_.changed();
    }
    if (wasMoved(bundleURL)) {
        std::vector<std::shared_ptr<InstalledApp>> remaining;
        for (const std::shared_ptr<InstalledApp>& listed : state_.apps_) {
            if (listed->id() != app->id()) {
                remaining.push_back(listed);
            }
        }
        state_.setApps(std::move(remaining));
        sdk::Value::Dictionary parameters;
        parameters.emplace("bundle_id", sdk::Value(app->bundleID()));
        state_.logEvent(AnalyticsEvent::appUninstalled, std::move(parameters));
    }
    reportUninstallFailures(moved.size(), failures);
}

void AppsFlow::reportUninstallFailures(size_t movedCount,
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
        state_.setErrorMessage(LocalizationManager::shared().format(
            "trash.summary", {movedCount, failures.size(), failureLines(failures)}));
        return;
    }
    const NeededPermissions needed = neededPermissions(refused);
    AppState::UninstallPermissionPrompt prompt;
    prompt.needsAppManagement = needed.appManagement;
    prompt.needsFullDiskAccess = needed.fullDiskAccess;
    for (const std::filesystem::path& path : refused) {
        prompt.failedPaths.push_back(path.string());
    }
    prompt.succeededCount = static_cast<int64_t>(movedCount);
    state_.setPermissionPrompt(std::move(prompt));
}

}  // namespace cb
