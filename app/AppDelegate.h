#pragma once

#include "platform/app/ApplicationDelegate.h"

namespace cb {

// The application delegate: what the program does once launching has finished, and the rule
// that it quits with its last window. It has no state. The program makes it the delegate of
// platform::Application::shared() at start; it implements none of the optional calls.
class AppDelegate : public platform::ApplicationDelegate {
  public:
    AppDelegate() = default;

    // Runs once when the event loop has started, on the UI thread, in this order:
    //   1. ZEDOre::configure() configures the SDK's default app from the options list;
    //   2. configureAnalytics() sets the user property and default parameter "distribution";
    //   3. logs "app_launched" without parameters, so it already carries that parameter.
    // Step 1 throws RZDException("com.razudizo.core") when the bundle has no valid options
    // list; the delegate lets it through, and steps 2 and 3 do not run.
    void applicationDidFinishLaunching() override;

    // True: closing the window ends the program.
    bool applicationShouldTerminateAfterLastWindowClosed() const override { return true; }
};

}  // namespace cb
