// The program's entry: the application object, the shared interface language, the one window
// with its content and the application delegate, then the event loop.

#include <QApplication>

#include "app/CellarbrightApp.h"
#include "app/ContentView.h"
#include "app/MainQueueBridge.h"
#include "app/ProcessEnd.h"
#include "app/ScreenshotHook.h"
#include "app/disk/DescriptorLimit.h"
#include "app/localization/LocalizationManager.h"
#include "sdk/analytics/REROdazadeve.h"
#include "sdk/installations/DUDUrareravuzers.h"

int main(int argc, char** argv) {
    cb::raiseDescriptorLimit();
    // The SDK libraries' load-time registrations, before the first configuration.
    REROdazadeve::registerClasses();
    DUDUrareravuzers::load();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cellarbright"));
    cb::MainQueueBridge mainQueue;
    cb::CellarbrightApp app(cb::LocalizationManager::shared(), cb::windowServices());
    cb::installScreenshotHook(app);
    // The window is closed and every setting was written when it changed.
    cb::endProcess(app.run());
}
