#include "app/AppServices.h"

#include "app/FileViewer.h"
#include "app/disk/FullDiskAccess.h"
#include "app/disk/Scanner.h"
#include "app/disk/SnapshotService.h"
#include "app/disk/TrashService.h"
#include "app/uninstaller/AllocatedSize.h"
#include "app/uninstaller/AppDiscovery.h"
#include "app/uninstaller/AppRelatedFiles.h"

namespace cb {

namespace {

// The real scanner behind the ScanRunner interface.
class DiskScanRunner : public ScanRunner {
  public:
    explicit DiskScanRunner(ScanProgressHandler handler) : scanner_(std::move(handler)) {}

    std::unique_ptr<FileNode> scan(const std::filesystem::path& location) override {
        return scanner_.scan(location.string());
    }

    void cancel() override { scanner_.markCancelled(); }

    int64_t foldersDeniedAccess() const override { return scanner_.foldersDeniedAccess(); }

  private:
    Scanner scanner_;
};

}  // namespace

AppServices AppServices::system() {
    AppServices services;
    services.makeScanner = [](ScanProgressHandler handler) -> std::shared_ptr<ScanRunner> {
        return std::make_shared<DiskScanRunner>(std::move(handler));
    };
    services.recycle = [](const std::filesystem::path& path, bool) -> RecycleOutcome {
        RecycleResult result = cb::recycle(path);
        if (result.ok()) {
            return std::nullopt;
        }
        return result.error->errorDescription();
    };
    services.countLocalSnapshots = [](const std::string& mountPoint) {
        return static_cast<int64_t>(SnapshotService::listLocalSnapshots(mountPoint).size());
    };
    services.thinLocalSnapshots = [](int64_t amount, const std::string& mountPoint, int urgency) {
        SnapshotService::thinLocalSnapshots(amount, mountPoint, urgency);
    };
    services.capacity = [](const std::filesystem::path& location) {
        return VolumeInfo::capacity(location.string());
    };
    services.isProtectedLocation = [](const std::filesystem::path& location) {
        return cb::isProtectedLocation(location);
    };
    services.hasFullDiskAccess = [] { return cb::hasFullDiskAccess(); };
    services.revealInFileViewer = [](const std::filesystem::path& path, bool isDirectory) {
        showInFileViewer(path, isDirectory);
    };
    services.logEvent = &logAnalyticsEvent;
    // Discovery has no stop point of its own: a listing is short next to the measurements.
    services.listInstalledApps = [](const std::atomic<bool>*) { return cb::listInstalledApps(); };
    services.measureBundleSize = [](const std::filesystem::path& bundle,
                                    const std::atomic<bool>* stop) {
        return cb::measureBundleSize(bundle, stop);
    };
    services.findRelatedFiles = [](const std::string& bundleID, const std::string& name,
                                   const std::filesystem::path& bundle,
                                   const std::atomic<bool>* stop) {
        return AppRelatedFiles::find(bundleID, name, bundle, stop);
    };
    services.openApplication = [](const std::filesystem::path& bundle) {
        platform::Workspace::shared().openApplication(bundle);
    };
    services.recycleBatch = [](const std::vector<std::filesystem::path>& urls) {
        return cb::recycleBatch(urls);
    };
    return services;
}

}  // namespace cb
