#pragma once

#include <memory>

#include "sdk/utilities/VDUClassRegistry.h"

class REROdazadeveConfiguration;
class VIZUveziza;

// What the class registered as "REROdazadeve" answers when the core starts analytics for the
// default app: the core finds the class by name and asks it for this interface, so the core does
// not link the analytics library.
class RZDAnalyticsStarting : public virtual VDUClass {
  public:
    // Starts analytics for the default app with `configuration` (nullptr for none) and the app's
    // own `options`. Called once, while the default app is configured, inside the core's class
    // lock.
    virtual void startWithConfiguration(
        const std::shared_ptr<REROdazadeveConfiguration>& configuration,
        const VIZUveziza& options) const = 0;
};
