#pragma once

#include <QUuid>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/AppServices.h"
#include "app/disk/FileNode.h"
#include "app/disk/ScanProgress.h"
#include "app/disk/VolumeInfo.h"

namespace cb {

class AppState;

// The scan flow of AppState: starts a scan generation, hands the scanner's progress reports to
// the UI thread, reads what the finished walk needs off the UI thread, installs the new tree with
// the focus restored, and cancels. It writes the state's published fields through their setters,
// so every change still reaches the state's change signals; results of an older generation are
// dropped. UI thread only; owned by the state and alive as long as it.
class ScanFlow {
  public:
    explicit ScanFlow(AppState& state);
    ~ScanFlow();

    ScanFlow(const ScanFlow&) = delete;
    ScanFlow& operator=(const ScanFlow&) = delete;

    // The actions of AppState with the same names.
    void scanEntireMac();
    void scanHome();
    void chooseFolder();
    void refresh();
    void scan(const std::filesystem::path& location, std::optional<std::string> focusPath);
    void cancelScan();

    // Stops the walk for good and makes its result vanish; for the state's destructor.
    void stop();

    // See AppState::findNode().
    static FileNode* findNode(FileNode& node, const std::string& nodePath,
                              const std::string& target);

  private:
    struct ScanTask;

    // What a scan's worker hands back: the tree and what was read about it off the UI thread.
    struct ScanResult {
        std::shared_ptr<FileNode> root;
        std::optional<VolumeInfo::Capacity> capacity;
        bool needsFullDiskAccess = false;
    };

    ScanProgressHandler makeProgressHandler(const QUuid& generation);
    void applyScanProgress(const ScanProgress& report, const QUuid& generation);
    void readVolumeCapacity(const std::filesystem::path& location);
    // `foldersDenied`: folders the walk could not open for want of permission.
    void readScanEnd(const QUuid& generation, std::shared_ptr<FileNode> root, int64_t foldersDenied,
                     const std::optional<std::string>& focusPath,
                     const std::filesystem::path& location);
    void finishScan(const QUuid& generation, ScanResult result,
                    const std::optional<std::string>& focusPath);
    void installTree(std::shared_ptr<FileNode> root, const std::optional<std::string>& focusPath);

    AppState& state_;
    std::shared_ptr<ScanRunner> scanner_;
    std::shared_ptr<ScanTask> scanTask_;
};

}  // namespace cb
