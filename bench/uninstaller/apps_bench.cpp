// Measures the apps screen's load on a fixture of 200 application bundles, each with an
// Info.plist, a PNG icon and 300 small files in nested folders:
//   - BM_ListInstalledApps: discovery alone (reading the bundles and decoding their icons);
//   - BM_LoadAppsOnScreen: AppState::loadApps() with the real services and AppsView shown
//     offscreen, until the last bundle size is applied. Counters: ui_stall_ms, the longest gap
//     between ticks of a 5 ms timer on the UI thread, and max_in_flight, the most measurements
//     running at once (counted by a wrapper around the measuring service).
//
// Run: build/bench/uninstaller/apps_bench
// Targets: max_in_flight = 4; ui_stall_ms under 50 (listing, measuring and icon decoding run off
// the UI thread, which only applies results).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/AppDiscovery.h"
#include "app/uninstaller/AppLocations.h"
#include "app/uninstaller/views/AppListModel.h"
#include "app/uninstaller/views/AppsView.h"

namespace {

namespace fs = std::filesystem;

constexpr int kApps = 200;
constexpr int kFilesPerApp = 300;  // 10 x 3 folders of 10 files

// A 256 x 256 PNG icon.
QByteArray iconPng() {
    QImage image(256, 256, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(60, 120, 220));
    painter.drawRoundedRect(QRectF(16, 16, 224, 224), 48, 48);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void writeBundle(const fs::path& bundle, int index, const QByteArray& png) {
    const fs::path contents = bundle / "Contents";
    fs::create_directories(contents / "MacOS");
    fs::create_directories(contents / "Resources");
    const std::string id = "com.example.app" + std::to_string(index);
    std::ofstream(contents / "Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        << "<key>CFBundleIdentifier</key><string>" << id << "</string>"
        << "<key>CFBundleName</key><string>App " << index << "</string>"
        << "<key>CFBundleShortVersionString</key><string>1." << index << "</string>"
        << "<key>CFBundleIconFile</key><string>icon.png</string></dict></plist>\n";
    std::ofstream(contents / "Resources" / "icon.png", std::ios::binary)
        .write(png.constData(), png.size());
    const std::string payload(200, 'x');
    for (int a = 0; a < 10; ++a) {
        for (int b = 0; b < 3; ++b) {
            const fs::path folder =
                contents / "Resources" / ("a" + std::to_string(a)) / ("b" + std::to_string(b));
            fs::create_directories(folder);
            for (int f = 0; f < kFilesPerApp / 30; ++f) {
                std::ofstream(folder / ("f" + std::to_string(f) + ".dat")) << payload;
            }
        }
    }
}

// The fixture, made once per run and removed at exit: applications root, machine Library and
// $HOME all point into it.
class Fixture {
  public:
    Fixture() {
        char pattern[] = "/tmp/apps-bench-XXXXXX";
        root_ = mkdtemp(pattern);
        const QByteArray png = iconPng();
        for (int i = 0; i < kApps; ++i) {
            writeBundle(root_ / "Applications" / ("App" + std::to_string(i) + ".app"), i, png);
        }
        fs::create_directories(root_ / "home");
        setenv("HOME", (root_ / "home").c_str(), 1);
        cb::AppLocations::TEST_setCurrent({root_ / "Applications", root_ / "Library"});
    }
    ~Fixture() {
        std::error_code error;
        fs::remove_all(root_, error);
    }

  private:
    fs::path root_;
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

void BM_ListInstalledApps(benchmark::State& state) {
    fixture();
    size_t listed = 0;
    for (auto _ : state) {
        listed = cb::listInstalledApps().size();
    }
    if (listed != kApps) {
        state.SkipWithError("the listing missed bundles");
    }
    state.counters["apps"] = static_cast<double>(listed);
}
BENCHMARK(BM_ListInstalledApps)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadAppsOnScreen(benchmark::State& state) {
    fixture();
    cb::LocalizationManager loc(nullptr, {"en"});
    qint64 worstStall = 0;
    int maxInFlight = 0;
    for (auto _ : state) {
        auto inFlight = std::make_shared<std::atomic<int>>(0);
        auto peak = std::make_shared<std::atomic<int>>(0);
        cb::AppServices services = cb::AppServices::system();
        services.measureBundleSize = [inFlight, peak, measure = services.measureBundleSize](
                                         const fs::path& bundle, const std::atomic<bool>* stop) {
            const int now = ++*inFlight;
            int seen = peak->load();
            while (now > seen && !peak->compare_exchange_weak(seen, now)) {
            }
            const int64_t size = measure(bundle, stop);
            --*inFlight;
            return size;
        };
        cb::AppState appState(std::move(services));
        cb::AppsView view(appState, loc);
        view.resize(960, 600);
        int applied = 0;
        QObject::connect(&appState, &cb::AppState::changed, [&applied] { ++applied; });

        QElapsedTimer clock;
        qint64 lastTick = 0;
        qint64 stall = 0;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            stall = std::max(stall, now - lastTick);
            lastTick = now;
        });
        clock.start();
        ticker.start();
        view.show();  // comes into view with an empty list: the listing starts
        while (applied < kApps) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        stall = std::max(stall, clock.elapsed() - lastTick);
        ticker.stop();
        worstStall = std::max(worstStall, stall);
        maxInFlight = std::max(maxInFlight, peak->load());
        if (view.model()->rowCount() != kApps) {
            state.SkipWithError("the list does not show every application");
        }
    }
    state.counters["ui_stall_ms"] = static_cast<double>(worstStall);
    state.counters["max_in_flight"] = maxInFlight;
}
BENCHMARK(BM_LoadAppsOnScreen)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
