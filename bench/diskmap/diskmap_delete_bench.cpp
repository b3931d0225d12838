// Measures the UI thread's work once a move to the Trash has succeeded, in a scanned tree of
// 2,000,000 entries shown by the disk map: the removal from the tree, the totals of every
// ancestor, and the disk map's relayout and repaint (chart, panel, breadcrumb, banner).
//
// Run: build/bench/diskmap/diskmap_delete_bench [--benchmark_repetitions=5]
// One frame at 60 Hz is 16 ms; the work must fit in it. The timed part of each iteration starts
// when the state receives the move's result and ends when the repainted map is on screen; it
// includes the hop of the result from the worker thread (well under 1 ms). For scale,
// BM_WholeTreeWalk is one visit of every node, what the window did before on every delete.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "app/AppState.h"
#include "app/DiskMapView.h"
#include "app/localization/LocalizationManager.h"
#include "bench/support/SyntheticTree.h"

namespace {

using cb::FileNode;

constexpr int64_t kEntries = 2'000'000;

// Hands over the prebuilt tree as its scan result.
class PrebuiltScan : public cb::ScanRunner {
  public:
    explicit PrebuiltScan(std::unique_ptr<FileNode> tree) : tree_(std::move(tree)) {}
    std::unique_ptr<FileNode> scan(const std::filesystem::path&) override {
        return std::move(tree_);
    }
    void cancel() override {}
    int64_t foldersDeniedAccess() const override { return 0; }

  private:
    std::unique_ptr<FileNode> tree_;
};

// A scanned tree as the scanner leaves it, with a few unreadable folders.
std::unique_ptr<FileNode> scannedTree() {
    auto root = cb::bench::makeTree(kEntries);
    std::vector<FileNode*> folders;
    for (const auto& child : root->children()) {
        if (child->isDirectory()) {
            folders.push_back(child.get());
        }
    }
    for (size_t i = 0; i < folders.size(); i += 3) {
        folders[i]->setInaccessible(true);
    }
    root->recountInaccessible();
    return root;
}

// Files spread over the whole tree, none inside another (so each stays valid until deleted).
std::vector<FileNode*> victims(FileNode& root, size_t count) {
    std::vector<FileNode*> files;
    std::vector<FileNode*> stack{&root};
    while (!stack.empty()) {
        FileNode* node = stack.back();
        stack.pop_back();
        for (const auto& child : node->children()) {
            (child->isDirectory() ? stack : files).push_back(child.get());
        }
    }
    std::shuffle(files.begin(), files.end(), std::mt19937_64(7));
    files.resize(std::min(files.size(), count));
    return files;
}

cb::AppServices services(std::shared_ptr<std::unique_ptr<FileNode>> tree) {
    cb::AppServices services;
    services.makeScanner = [tree](cb::ScanProgressHandler) {
        return std::make_shared<PrebuiltScan>(std::move(*tree));
    };
    services.recycle = [](const std::filesystem::path&, bool) { return cb::RecycleOutcome(); };
    services.capacity = [](const std::filesystem::path&) {
        return std::optional(cb::VolumeInfo::Capacity{int64_t{1} << 40, 1 << 30, 1 << 30});
    };
    services.isProtectedLocation = [](const std::filesystem::path&) { return false; };
    services.hasFullDiskAccess = [] { return false; };
    services.countLocalSnapshots = [](const std::string&) { return int64_t{0}; };
    services.thinLocalSnapshots = [](int64_t, const std::string&, int) {};
    services.revealInFileViewer = [](const std::filesystem::path&, bool) {};
    services.logEvent = [](cb::AnalyticsEvent, std::optional<sdk::Value::Dictionary>) {};
    return services;
}

void BM_DeleteInLargeTree(benchmark::State& state) {
    cb::LocalizationManager loc(nullptr, {"en"});
    cb::AppState app(services(std::make_shared<std::unique_ptr<FileNode>>(scannedTree())));
    app.scan("/", std::nullopt);
    while (app.phase().kind() != cb::AppState::Phase::Kind::ready) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    cb::DiskMapView map(app, loc);
    map.resize(1080, 660);
    map.show();
    QCoreApplication::processEvents();
    std::vector<FileNode*> files = victims(*app.root(), 5000);
    size_t next = 0;
    for (auto _ : state) {
        if (next == files.size()) {
            state.SkipWithError("out of files to delete");
            break;
        }
        FileNode* victim = files[next++];
        const int64_t before = app.root()->fileCount();
        app.setDeleteCandidate(victim);
        QElapsedTimer timer;
        timer.start();
        app.confirmDelete();  // the move itself runs on a worker and returns at once here
        while (app.root()->fileCount() == before) {
            QCoreApplication::sendPostedEvents();
        }
        map.repaint();
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) * 1e-9);
    }
    state.counters["nodes"] = static_cast<double>(kEntries);
}
BENCHMARK(BM_DeleteInLargeTree)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(200);

// One visit of every node of the same tree.
void BM_WholeTreeWalk(benchmark::State& state) {
    const std::unique_ptr<FileNode> root = scannedTree();
    for (auto _ : state) {
        root->recountInaccessible();
        benchmark::DoNotOptimize(root->inaccessibleCount());
    }
}
BENCHMARK(BM_WholeTreeWalk)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
