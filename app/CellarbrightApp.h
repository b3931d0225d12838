#pragma once

#include <QIcon>
#include <QSize>
#include <filesystem>
#include <memory>
#include <optional>

#include "app/AppDelegate.h"
#include "app/AppServices.h"

namespace cb {

class ContentView;
class QtTranslations;
class LocalizationManager;
class WindowBackground;

// The application: one window whose content is ContentView on the window background, at least
// 1080 x 720, centred, and the AppDelegate, which it makes the delegate of
// platform::Application::shared(). Qt's own dialogs speak the interface language. Ctrl+Q
// (the platform's Quit keys) ends the event loop and Ctrl+W (its Close keys) closes the window,
// even under a dialog overlay. The main bundle's logo is the application's icon (and so the welcome
// screen's fallback logo). There is no command to open a second window, and closing the window ends
// the event loop. While the object lives, each activation of the application is posted to the SDK
// (postActivationNotifications).
class CellarbrightApp {
  public:
    // The smallest size of the window.
    static constexpr QSize kMinimumSize{1080, 720};

    // Builds the window (not yet shown) with ContentView given `loc` and `services`.
    // REQUIRES: a QApplication exists; `loc` outlives this object.
    CellarbrightApp(LocalizationManager& loc, AppServices services);
    ~CellarbrightApp();

    CellarbrightApp(const CellarbrightApp&) = delete;
    CellarbrightApp& operator=(const CellarbrightApp&) = delete;

    // The application's icon: "main_logo.png" of `resourcesFolder`, or a null icon when there is
    // no folder or no readable picture there.
    static QIcon iconFrom(const std::optional<std::filesystem::path>& resourcesFolder);

    WindowBackground& window() { return *window_; }
    ContentView& content() { return *content_; }
    AppDelegate& delegate() { return *delegate_; }

    // Shows the window centred on the screen, lets the event loop start, then calls
    // applicationDidFinishLaunching() of the application's delegate at that moment (ours, or a
    // proxy the SDK put in front of it; none when the delegate was removed) from it, and runs
    // the loop until the window closes.
    // Returns the loop's exit code. An exception thrown while launching finishes (a missing
    // options list) ends the loop and is rethrown from here, uncaught by the application:
    // the program stops as on any uncaught exception.
    int run();

  private:
    void addWindowShortcuts();

    std::shared_ptr<AppDelegate> delegate_ = std::make_shared<AppDelegate>();
    std::unique_ptr<QtTranslations> qtTexts_;  // Qt's own dialog texts in the interface language
    std::unique_ptr<WindowBackground> window_;
    ContentView* content_;  // owned by window_
};

}  // namespace cb
