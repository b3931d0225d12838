#include "app/CellarbrightApp.h"

#include <QApplication>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <iostream>

#include "app/ApplicationActivation.h"
#include "app/ContentView.h"
#include "app/QtTranslations.h"
#include "app/WindowBackground.h"
#include "platform/app/Application.h"
#include "platform/bundle/Bundle.h"
#include "sdk/core/RZDException.h"

namespace cb {

CellarbrightApp::CellarbrightApp(LocalizationManager& loc, AppServices services)
    : qtTexts_(std::make_unique<QtTranslations>(loc)),
      window_(std::make_unique<WindowBackground>()) {
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    const QIcon icon = iconFrom(bundle ? std::optional(bundle->resourcesPath()) : std::nullopt);
    if (!icon.isNull()) {
        QApplication::setWindowIcon(icon);
    }
    window_->setObjectName(QStringLiteral("MainWindow"));
    window_->setWindowTitle(QStringLiteral("Cellarbright"));
    window_->setMinimumSize(kMinimumSize);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    content_ = new ContentView(loc, std::move(services), window_.get());
    layout->addWidget(content_);
    platform::Application::shared().setDelegate(delegate_);
    QApplication::setQuitOnLastWindowClosed(
        delegate_->applicationShouldTerminateAfterLastWindowClosed());
    addWindowShortcuts();
    postActivationNotifications(window_.get());
}

void CellarbrightApp::addWindowShortcuts() {
    // The platform's own keys for quit and close, and Ctrl+Q / Ctrl+W wherever the platform
    // theme names others.
    const auto bind = [this](QKeySequence::StandardKey standard, QKeySequence own,
                             const auto& action) {
        QList<QKeySequence> keys = QKeySequence::keyBindings(standard);
        if (!keys.contains(own)) {
            keys.append(own);
        }
        for (const QKeySequence& key : keys) {
            auto* shortcut = new QShortcut(key, window_.get());
            shortcut->setContext(Qt::WindowShortcut);
            QObject::connect(shortcut, &QShortcut::activated, window_.get(), action);
        }
    };
    bind(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q), [] { QCoreApplication::quit(); });
    bind(QKeySequence::Close, QKeySequence(Qt::CTRL | Qt::Key_W),
         [window = window_.get()] { window->close(); });
}

CellarbrightApp::~CellarbrightApp() = default;

QIcon CellarbrightApp::iconFrom(const std::optional<std::filesystem::path>& resourcesFolder) {
    if (!resourcesFolder) {
        return {};
    }
    const QString file = QString::fromStdString((*resourcesFolder / "main_logo.png").string());
    const QPixmap picture(file, "PNG");
    return picture.isNull() ? QIcon() : QIcon(picture);
}

int CellarbrightApp::run() {
    window_->resize(kMinimumSize);
    if (const QScreen* screen = window_->screen()) {
        QRect frame(QPoint(), kMinimumSize);
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    window_->show();
    std::exception_ptr launchFailure;
    QTimer::singleShot(0, window_.get(), [&launchFailure] {
        try {
            if (const auto delegate = platform::Application::shared().delegate()) {
                delegate->applicationDidFinishLaunching();
            }
            postDidFinishLaunchingNotification();
        } catch (const RZDException& error) {
            // Qt's event loop cannot carry an exception; take it out of the loop and let it
            // go on from run(), where nothing catches it.
            std::cerr << "Terminating app due to uncaught exception '" << error.name()
                      << "', reason: '" << error.reason() << "'\n";
            launchFailure = std::current_exception();
            QCoreApplication::exit(EXIT_FAILURE);
        } catch (...) {
            launchFailure = std::current_exception();
            QCoreApplication::exit(EXIT_FAILURE);
        }
    });
    const int code = QApplication::exec();
    if (launchFailure) {
        std::rethrow_exception(launchFailure);
    }
    return code;
}

}  // namespace cb
