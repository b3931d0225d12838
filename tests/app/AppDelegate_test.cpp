// The launch sequence, the window the application builds, and the built program itself: its
// bundle layout, its first window and its refusal to start without an options list.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "app/AppDelegate.h"
#include "app/ApplicationActivation.h"
#include "app/CellarbrightApp.h"
#include "app/MainQueueBridge.h"
#include "app/WindowBackground.h"
#include "app/localization/LocalizationManager.h"
#include "app/views/WelcomeView.h"
#include "platform/app/Application.h"
#include "platform/bundle/Bundle.h"
#include "platform/dispatch/DispatchQueue.h"
#include "sdk/analytics/REROdazadeve.h"
#include "sdk/core/REZUzavuredeContainer.h"
#include "sdk/core/RZDException.h"
#include "sdk/core/RZDHeartbeatLogger.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/core/heartbeat/HeartbeatStorage.h"
#include "sdk/installations/DUDUrareravuzers.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRawEventData.h"
#include "sdk/utilities/VDUNotificationCenter.h"
#include "tests/app/AppStateFakes.h"
#include "tests/app/WindowTestEnvironment.h"
#include "tests/platform/preferences/HostilePlists.h"
#include "tests/sdk/measurement/engine/core/APMAnalyticsTesting.h"
#include "tests/sdk/measurement/engine/core/APMMeasurementTestPeer.h"

namespace cb {
namespace {

namespace fs = std::filesystem;

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new cb::testing::WindowEnvironment);

// The program as the build lays it out.
fs::path builtBundle() {
    return fs::path(CB_BUILD_DIR) / "Cellarbright.app";
}

// What the measurement facade stored and told its listeners, once its queued work is done.
void settleAnalytics() {
    for (int round = 0; round < 2; ++round) {
        TEST_APMAnalyticsWaitForQueuedWork();
        if (std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
            APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine, [] {});
        }
    }
    TEST_APMAnalyticsWaitForQueuedWork();
}

class AppDelegateTest : public ::testing::Test {
  protected:
    AppDelegateTest() {
        ZEDOre::resetApps();
        REROdazadeve::registerClasses();  // as main() does
        DUDUrareravuzers::load();
        listener = REROdazadeve::addLogEventListener([this](const APMEvent& event) {
            std::lock_guard lock(mutex);
            heard.push_back(event.origin() + " " + event.name());
        });
    }
    ~AppDelegateTest() override {
        if (APMAnalytics::isStarted()) {
            settleAnalytics();
        }
        platform::Bundle::TEST_setMainBundle(std::nullopt);
        VIZUveziza::resetDefaultOptions();
        ZEDOre::resetApps();
    }

    // Runs as the program at `bundle`: its main bundle, its options list.
    static void runAs(const fs::path& bundle) {
        platform::Bundle::TEST_setMainBundle(bundle);
        VIZUveziza::resetDefaultOptions();
    }

    std::vector<std::string> events() {
        std::lock_guard lock(mutex);
        return heard;
    }

    std::optional<APMAnalytics::ListenerToken> listener;
    std::mutex mutex;
    std::vector<std::string> heard;  // guarded by mutex
};

TEST_F(AppDelegateTest, LaunchConfiguresTheCoreWhichStartsMeasurementAndStoresTheLaunchEvent) {
    runAs(builtBundle());
    AppDelegate().applicationDidFinishLaunching();
    EXPECT_TRUE(ZEDOre::isDefaultAppConfigured());
    // Configuring the core started measurement for the app; the launch event was stored.
    settleAnalytics();
    std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->appID(), "1:100000000001:ios:0c311b1a9b7c0000000000000000a1");
    // The engine's start reports the first open ("_f" with its "_e"), then the launch event.
    const std::vector<std::string> launch{"auto _f", "auto _e", "app app_launched"};
    EXPECT_EQ(events(), launch);
    std::vector<std::string> stored;
    APMMeasurementTestPeer::runOnWorkerQueueAndWait(*engine, [&] {
        sdk::Error error;
        for (const APMRawEventData& data :
             engine->database()->allRawEventsWithError(&error).value_or(
                 std::vector<APMRawEventData>{})) {
            stored.push_back(data.rawEvent().origin() + " " + data.rawEvent().name());
        }
    });
    EXPECT_EQ(stored, launch);
    // The bundled options pass the installations checks; its instance is made at launch.
    const std::vector<std::string> cached = ZEDOre::defaultApp()->container().cachedProtocols();
    EXPECT_NE(std::find(cached.begin(), cached.end(), "DUDUrareravuzersInstanceProvider"),
              cached.end());
    EXPECT_NE(DUDUrareravuzers::installations(), nullptr);
    EXPECT_NE(ZEDOre::razudizoUserAgent().find("rzd-install/11.15.0"), std::string::npos)
        << ZEDOre::razudizoUserAgent();
}

TEST_F(AppDelegateTest, AMissingOptionsListRaisesTheCoreErrorAndNothingIsSent) {
    QTemporaryDir home;
    const fs::path bundle = fs::path(home.path().toStdString()) / "Cellarbright.app";
    fs::create_directories(bundle / "Contents" / "Resources");
    fs::copy_file(builtBundle() / "Contents" / "Info.plist", bundle / "Contents" / "Info.plist");
    runAs(bundle);
    try {
        AppDelegate().applicationDidFinishLaunching();
        FAIL() << "launch went on without options";
    } catch (const RZDException& error) {
        EXPECT_EQ(error.name(), "com.razudizo.core");
    }
    EXPECT_FALSE(APMAnalytics::isStarted());
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(AppDelegate().applicationShouldTerminateAfterLastWindowClosed());
}

// Today's UTC day as "yyyy-MM-dd".
std::string todayUTC() {
    return QDateTime::currentDateTimeUtc().date().toString(Qt::ISODate).toStdString();
}

TEST_F(AppDelegateTest, EachActivationOfTheLaunchedAppLogsTodaysHeartbeat) {
    runAs(builtBundle());
    testing::FakeWorld world;
    LocalizationManager loc(nullptr, {"en"});
    CellarbrightApp app(loc, world.services());
    app.delegate().applicationDidFinishLaunching();
    const std::string appID = *ZEDOre::defaultApp()->options().voviduAppID();
    const fs::path file = fs::path(qEnvironmentVariable("XDG_DATA_HOME").toStdString()) /
                          "vovidu-heartbeat-storage" /
                          "heartbeats-1_100000000001_ios_0c311b1a9b7c0000000000000000a1";
    ASSERT_FALSE(fs::exists(file));

    WindowBackground& window = app.window();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_EQ(QGuiApplication::applicationState(), Qt::ApplicationActive);
    // The heartbeat is written on its store's queue: wait for that queue, keeping what it holds.
    heartbeat::HeartbeatStorage::sharedStore(appID)->updateSync([](auto stored) { return stored; });
    ASSERT_TRUE(fs::exists(file));
    EXPECT_GT(fs::file_size(file), 0u);

    const RZDHeartbeatsPayload payload =
        ZEDOre::defaultApp()->heartbeatLogger()->flushHeartbeatsIntoPayload();
    const auto& entries = payload.heartbeatsPayload().userAgentPayloads;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].dates.size(), 1u);
    EXPECT_NE(payload.heartbeatsPayload().jsonString()->find(todayUTC()), std::string::npos);
    EXPECT_NE(entries[0].agent.find("rzd-ios/11.15.0"), std::string::npos) << entries[0].agent;
    EXPECT_NE(entries[0].agent.find("rzd-analytics/11.15.0"), std::string::npos);
    window.close();
}

// The application's activity reaches the SDK as its notifications: becoming active and leaving
// the active state, each once per change (Qt's states also move between inactive and hidden).
TEST(CellarbrightAppActivityTest, BecomingActiveAndLeavingItArePostedOncePerChange) {
    std::vector<std::string> posted;
    VDUObserverToken token = VDUNotificationCenter::defaultCenter().addObserverForName(
        std::nullopt, nullptr, [&](const VDUNotification& notification) {
            if (notification.name.starts_with("NSApplication")) {
                posted.push_back(notification.name);
            }
        });
    ApplicationActivity activity(false);
    for (bool active : {false, true, true, false, false, true}) {
        activity.applicationStateChanged(active);
    }
    EXPECT_EQ(posted, (std::vector<std::string>{"NSApplicationDidBecomeActiveNotification",
                                                "NSApplicationWillResignActiveNotification",
                                                "NSApplicationDidBecomeActiveNotification"}));
    posted.clear();
    postDidFinishLaunchingNotification();
    EXPECT_EQ(posted, std::vector<std::string>{"NSApplicationDidFinishLaunchingNotification"});
}

TEST(CellarbrightAppTest, OneWindowThatCannotShrinkBelowTheMinimum) {
    testing::FakeWorld world;
    LocalizationManager loc(nullptr, {"en"});
    CellarbrightApp app(loc, world.services());
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    WindowBackground& window = app.window();
    EXPECT_EQ(window.minimumSize(), QSize(1080, 720));
    window.show();
    window.resize(800, 500);
    EXPECT_GE(window.width(), 1080);
    EXPECT_GE(window.height(), 720);
    EXPECT_EQ(window.palette().color(QPalette::Window),
              window.grab().toImage().pixelColor(window.width() - 2, window.height() - 2))
        << "the window colour shows where nothing else is drawn";
}

TEST(CellarbrightAppTest, ItsDelegateIsTheApplicationsAndLaunchingIsToldToTheApplicationsOne) {
    testing::FakeWorld world;
    LocalizationManager loc(nullptr, {"en"});
    CellarbrightApp app(loc, world.services());
    EXPECT_EQ(platform::Application::shared().delegate().get(), &app.delegate());

    // A delegate put in front of ours (as the SDK's proxy does) is the one told.
    struct Launch : platform::ApplicationDelegate {
        void applicationDidFinishLaunching() override {
            ++count;
            QCoreApplication::exit(3);
        }
        int count = 0;
    };
    const auto launch = std::make_shared<Launch>();
    platform::Application::shared().setDelegate(launch);
    EXPECT_EQ(app.run(), 3);
    EXPECT_EQ(launch->count, 1);
    platform::Application::shared().setDelegate(nullptr);
}

TEST(CellarbrightAppTest, CtrlWClosesTheWindowAndCtrlQEndsTheLoop) {
    testing::FakeWorld world;
    LocalizationManager loc(nullptr, {"en"});
    CellarbrightApp app(loc, world.services());
    WindowBackground& window = app.window();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));  // shortcuts need an active window
    bool quitOnClose = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));

    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTimer::singleShot(0, &window, [&window] {
        QTest::keyClick(
            QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : &window,
            Qt::Key_Q, Qt::ControlModifier);
    });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(7); });  // the key did nothing
    EXPECT_EQ(QApplication::exec(), 0);
    QApplication::setQuitOnLastWindowClosed(quitOnClose);
}

TEST(CellarbrightAppTest, TheBundlesLogoIsTheIconAndTheWelcomeScreensFallback) {
    EXPECT_TRUE(CellarbrightApp::iconFrom(std::nullopt).isNull());
    QTemporaryDir empty;
    EXPECT_TRUE(CellarbrightApp::iconFrom(fs::path(empty.path().toStdString())).isNull());

    const std::optional<platform::Bundle> bundle = platform::Bundle::open(builtBundle());
    ASSERT_TRUE(bundle.has_value());
    const QIcon icon = CellarbrightApp::iconFrom(bundle->resourcesPath());
    ASSERT_FALSE(icon.isNull());
    const QImage logo(QString::fromStdString((bundle->resourcesPath() / "main_logo.png").string()));
    const QImage drawn = icon.pixmap(logo.size()).toImage().convertToFormat(logo.format());
    EXPECT_EQ(drawn, logo);

    // A bundle without its logo: the welcome screen shows the application's icon instead.
    QApplication::setWindowIcon(icon);
    const QPixmap fallback = WelcomeView::logoFrom(fs::path(empty.path().toStdString()));
    QApplication::setWindowIcon(QIcon());
    ASSERT_FALSE(fallback.isNull());
    const QImage scaled =
        logo.scaled(fallback.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QPoint middle(fallback.width() / 2, fallback.height() / 2);
    EXPECT_EQ(fallback.toImage().pixelColor(middle).rgb(), scaled.pixelColor(middle).rgb());
}

TEST(MainQueueBridgeTest, TheEventLoopRunsBlocksQueuedOnTheMainQueue) {
    std::atomic<bool> ranOnUiThread = false;
    {
        MainQueueBridge bridge;
        std::thread([&] {
            platform::DispatchQueue::main()->async(
                [&] { ranOnUiThread = QThread::currentThread() == qApp->thread(); });
        }).join();
        EXPECT_TRUE(QTest::qWaitFor([&] { return ranOnUiThread.load(); }, 5000));
    }
    // Without the bridge, nothing drains the queue any more.
    std::atomic<bool> ranLater = false;
    platform::DispatchQueue::main()->async([&] { ranLater = true; });
    QTest::qWait(100);
    EXPECT_FALSE(ranLater);
    MainQueueBridge again;  // blocks queued meanwhile run once a bridge exists
    EXPECT_TRUE(QTest::qWaitFor([&] { return ranLater.load(); }, 5000));
}

// Runs the built program with the screenshot hook under the offscreen platform.
QProcess* runProgram(const fs::path& executable, const QTemporaryDir& home,
                     const QStringList& extraEnvironment) {
    auto* process = new QProcess;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    environment.insert("LANG", "en_US.UTF-8");
    for (const QString& entry : extraEnvironment) {
        environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
    }
    process->setProcessEnvironment(environment);
    process->start(QString::fromStdString(executable.string()), {});
    return process;
}

TEST(BuiltProgramTest, TheBundleCarriesItsInfoListAndResources) {
    const std::optional<platform::Bundle> bundle = platform::Bundle::open(builtBundle());
    ASSERT_TRUE(bundle.has_value());
    EXPECT_EQ(bundle->identifier(), "com.cellarbright.Cellarbright");
    EXPECT_EQ(bundle->infoString("CFBundleDisplayName"), "Cellarbright");
    EXPECT_EQ(bundle->infoString("CFBundleExecutable"), "cellarbright");
    EXPECT_TRUE(bundle->infoString("CFBundleShortVersionString").has_value());
    EXPECT_TRUE(VIZUveziza::dictionaryWithContentsOfFile(bundle->resourcesPath() /
                                                         "VoviduService-Info.plist"));
    EXPECT_FALSE(
        QImage(QString::fromStdString((bundle->resourcesPath() / "main_logo.png").string()))
            .isNull());
    EXPECT_TRUE(fs::exists(builtBundle() / "Contents" / "MacOS" / "cellarbright"));
}

TEST(BuiltProgramTest, ItOpensOneWindowOnTheWelcomeScreen) {
    QTemporaryDir home;
    const QString picture = home.filePath("welcome.png");
    std::unique_ptr<QProcess> program(
        runProgram(builtBundle() / "Contents" / "MacOS" / "cellarbright", home,
                   {"CELLARBRIGHT_TEST_SCREENSHOT=" + picture}));
    ASSERT_TRUE(program->waitForFinished(120'000));
    EXPECT_EQ(program->exitCode(), 0) << program->readAllStandardError().toStdString();
    EXPECT_EQ(program->readAllStandardOutput().trimmed(),
              "window 1080x720, top-level windows 1, icon set");
    EXPECT_EQ(QImage(picture).size(), QSize(1080, 720));
}

// A settings file the reader refuses (here nested 200,000 deep, which once crashed the reader at
// every launch) is kept aside and the program starts on its defaults.
TEST(BuiltProgramTest, ADamagedSettingsFileIsSetAsideAndTheWindowOpens) {
    QTemporaryDir home;
    const fs::path settings = fs::path(home.filePath("config").toStdString()) / "cellarbright" /
                              "com.cellarbright.Cellarbright.plist";
    fs::create_directories(settings.parent_path());
    const std::string damaged = platform::hostile::deepXml(200000);
    std::ofstream(settings, std::ios::binary) << damaged;
    std::unique_ptr<QProcess> program(
        runProgram(builtBundle() / "Contents" / "MacOS" / "cellarbright", home,
                   {"CELLARBRIGHT_TEST_SCREENSHOT=" + home.filePath("welcome.png")}));
    ASSERT_TRUE(program->waitForFinished(120'000));
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 0) << program->readAllStandardError().toStdString();
    EXPECT_EQ(program->readAllStandardOutput().trimmed(),
              "window 1080x720, top-level windows 1, icon set");
    fs::path aside = settings;
    aside += ".damaged";
    std::ifstream kept(aside, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), damaged);
}

TEST(BuiltProgramTest, WithoutAnOptionsListItStopsWithTheCoreError) {
    QTemporaryDir home;
    const fs::path copy = fs::path(home.path().toStdString()) / "Cellarbright.app" / "Contents";
    fs::create_directories(copy / "MacOS");
    fs::create_directories(copy / "Resources");
    fs::copy_file(builtBundle() / "Contents" / "Info.plist", copy / "Info.plist");
    fs::copy_file(builtBundle() / "Contents" / "MacOS" / "cellarbright",
                  copy / "MacOS" / "cellarbright");
    std::unique_ptr<QProcess> program(runProgram(copy / "MacOS" / "cellarbright", home, {}));
    ASSERT_TRUE(program->waitForFinished(120'000));
    EXPECT_NE(program->exitStatus() == QProcess::NormalExit ? program->exitCode() : -1, 0);
    EXPECT_TRUE(program->readAllStandardError().contains("com.razudizo.core"));
}

}  // namespace
}  // namespace cb
