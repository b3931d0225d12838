// Measures what one redraw of the disk map costs: the layout of the focus into segments, the hit
// test of the pointer and the painting of a 1000 x 800 chart, on a synthetic tree of 500,000
// entries (a wide, deep mix of folders and files with log-normal sizes, like a system volume).
//
// Run: build/bench/sunburst/sunburst_layout_bench [--benchmark_repetitions=5]
// A redraw has one frame (16 ms) at 60 Hz; the target is well under that.
//
// Each iteration paints a fresh frame as a window's backing store gets it: an opaque RGB32 image
// at pixel ratio 1 filled with the window colour. Times are wall clock; CPU is the whole
// process's, so work Qt or the painter hands to other threads is counted.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <cmath>
#include <memory>
#include <string>

#include "app/disk/FileNode.h"
#include "app/localization/LocalizationManager.h"
#include "app/views/SunburstLayout.h"
#include "app/views/SunburstPainter.h"
#include "app/views/SunburstView.h"
#include "bench/support/SyntheticTree.h"

namespace {

using cb::FileNode;
using cb::bench::makeTree;
using cb::bench::sumTotals;

// A folder holding `count` files of equal size: ring 0 never drops a child, so every file
// becomes an arc, however thin.
std::unique_ptr<FileNode> makeFlatFolder(int64_t count) {
    auto root = std::make_unique<FileNode>("flat", true, nullptr);
    root->setRootPath("/flat");
    FileNode::Children children;
    for (int64_t i = 0; i < count; ++i) {
        auto child = std::make_unique<FileNode>("f" + std::to_string(i), false, root.get());
        child->setSize(4096);
        child->setFileCount(1);
        children.push_back(std::move(child));
    }
    root->setChildren(std::move(children));
    sumTotals(*root);
    return root;
}

FileNode& tree() {
    static const std::unique_ptr<FileNode> root = makeTree(500'000);
    return *root;
}

const cb::SunburstColors kColors{QColor(236, 236, 236), Qt::black, QColor(0, 0, 0, 140)};

void BM_Relayout(benchmark::State& state) {
    const cb::ChartGeometry geometry = cb::chartGeometry(1000, 800);
    size_t count = 0;
    for (auto _ : state) {
        auto segments = cb::layoutChart(&tree(), geometry);
        count = segments.size();
        benchmark::DoNotOptimize(segments.data());
    }
    state.counters["segments"] = static_cast<double>(count);
}
BENCHMARK(BM_Relayout)->Unit(benchmark::kMillisecond);

// A frame as a window's backing store receives it.
QImage backingStore() {
    QImage image(1000, 800, QImage::Format_RGB32);
    image.setDevicePixelRatio(1);
    return image;
}

// One pointer movement as the chart handles it: relayout, hit test, paint with the branch under
// the pointer highlighted, centre label included.
void BM_RelayoutHitTestAndPaint(benchmark::State& state) {
    const cb::ChartGeometry geometry = cb::chartGeometry(1000, 800);
    QImage image = backingStore();
    const cb::SunburstLabel label{"Macintosh HD", "412.3 GB", "500000 files"};
    for (auto _ : state) {
        auto segments = cb::layoutChart(&tree(), geometry);
        const double r = geometry.holeRadius + geometry.ringWidth * 1.5;
        const cb::Segment* under = cb::segmentAt(r * 0.6, -r * 0.8, segments);
        image.fill(kColors.windowBackground);
        QPainter painter(&image);
        cb::paintSunburst(painter, geometry, segments, under, kColors);
        cb::paintCentreLabel(painter, geometry, label, kColors);
        painter.end();
        benchmark::DoNotOptimize(image.bits());
    }
}
BENCHMARK(BM_RelayoutHitTestAndPaint)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The worst case the rules allow: a focus whose direct children are thousands of small files.
void BM_FlatFolderRelayoutAndPaint(benchmark::State& state) {
    const auto folder = makeFlatFolder(state.range(0));
    const cb::ChartGeometry geometry = cb::chartGeometry(1000, 800);
    QImage image = backingStore();
    for (auto _ : state) {
        auto segments = cb::layoutChart(folder.get(), geometry);
        image.fill(kColors.windowBackground);
        QPainter painter(&image);
        cb::paintSunburst(painter, geometry, segments, nullptr, kColors);
        painter.end();
        benchmark::DoNotOptimize(image.bits());
    }
}
BENCHMARK(BM_FlatFolderRelayoutAndPaint)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// A whole frame of the chart widget with the pointer over ring 1: relayout, hit test, paint and
// centre label, painted by Qt through the window's backing store (its own format and ratio).
void BM_ViewRepaint(benchmark::State& state) {
    cb::LocalizationManager loc(nullptr, {"en"});
    cb::SunburstView view(loc);
    view.resize(1000, 800);
    view.setFocusNode(&tree());
    view.show();
    for (int i = 0; i < 100 && !view.windowHandle()->isExposed(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    if (!view.windowHandle()->isExposed()) {
        state.SkipWithError("the window was never exposed");
        return;
    }
    const cb::ChartGeometry geometry = cb::chartGeometry(1000, 800);
    const double r = geometry.holeRadius + geometry.ringWidth * 1.5;
    const QPointF pointer(geometry.centerX + r * 0.6, geometry.centerY - r * 0.8);
    QMouseEvent move(QEvent::MouseMove, pointer, view.mapToGlobal(pointer), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    for (auto _ : state) {
        view.repaint();
    }
    view.setFocusNode(nullptr);
}
BENCHMARK(BM_ViewRepaint)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    tree();  // build outside the timed loops
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
