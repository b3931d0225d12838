#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sdk/analytics/REROdazadeveSink.h"
#include "sdk/utilities/Value.h"

// The analytics interface that the application and the SDK core call. A class of class
// operations only; it adds nothing to an event. The guarded operations first ask whether the
// SDK core's default app is configured (ZEDOre::isDefaultAppConfigured) and drop their input
// when it is not; calls made before configuration are dropped, not queued. Everything accepted
// is handed to the installed sink (the measurement engine). All operations may be called from
// any thread and return at once.
class REROdazadeve {
  public:
    REROdazadeve() = delete;

    // The origin of every public call.
    static constexpr const char* kOriginApp = "app";
    // The origin of the measurement start by the SDK core.
    static constexpr const char* kOriginStart = "fa";

    // Logs the event `name` with `parameters` (nullopt for none) and the origin "app". Dropped
    // while the default app is not configured.
    static void logEventWithName(const std::string& name,
                                 std::optional<sdk::Value::Dictionary> parameters);

    // The same with an explicit origin.
    static void logEventWithOrigin(const std::string& origin, const std::string& name,
                                   std::optional<sdk::Value::Dictionary> parameters);

    // Sets the user property `name` to `value` (nullopt removes it). Dropped while the default
    // app is not configured.
    static void setUserPropertyString(std::optional<std::string> value, const std::string& name);

    // Makes `parameters` the default parameters added to every event logged afterwards
    // (nullopt clears them). Not guarded: it is handed on as it is.
    static void setDefaultEventParameters(std::optional<sdk::Value::Dictionary> parameters);

    // Starts analytics for the default app; called once by the SDK core while it configures the
    // default app, with that app's Vovidu app ID.
    static void startWithConfiguration(const std::string& voviduAppID);

    // Installs the receiver of everything accepted (nullptr: accepted calls go nowhere) and
    // returns the previous one. The measurement engine installs itself here; tests install a
    // recorder.
    static std::shared_ptr<REROdazadeveSink> setSink(std::shared_ptr<REROdazadeveSink> sink);
};
