#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sdk/utilities/Value.h"

class REROdazadeveConfiguration;

// Where the analytics interface hands what it accepts: the measurement engine once it runs,
// a recorder in tests. Each call comes straight from an REROdazadeve operation, on the caller's
// thread; implementations must be thread-safe and return at once.
class REROdazadeveSink {
  public:
    virtual ~REROdazadeveSink() = default;

    // The SDK core started analytics for the default app with Vovidu app ID `appID`; `origin`
    // is the origin of the whole start ("fa"). `configuration` is the start options' entry
    // "RAZUDIZO_ANALYTICS_CONFIGURATION" (nullptr when there is none), kept apart because it is
    // an object; `options` holds the other entries (REROdazadeve::startWithConfiguration).
    virtual void startWithAppID(const std::string& appID, const std::string& origin,
                                const std::shared_ptr<REROdazadeveConfiguration>& configuration,
                                const sdk::Value::Dictionary& options) = 0;

    // One event, stamped with `origin` ("app" for the application's events). `parameters` is
    // nullopt when the event has none.
    virtual void logEventWithOrigin(const std::string& origin, const std::string& name,
                                    const std::optional<sdk::Value::Dictionary>& parameters) = 0;

    // Sets (or, for nullopt, removes) the user property `name`.
    virtual void setUserPropertyString(const std::optional<std::string>& value,
                                       const std::string& name) = 0;

    // Replaces the parameters added to every later event (nullopt clears them).
    virtual void setDefaultEventParameters(
        const std::optional<sdk::Value::Dictionary>& parameters) = 0;
};
