#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sdk/analytics/REROdazadeveSink.h"
#include "sdk/core/VIZUveziza.h"
#include "sdk/utilities/Value.h"

// The analytics interface that the application and the SDK core call. A class of class
// operations only; it adds nothing to an event. The guarded operations first ask whether the
// SDK core's default app is configured (ZEDOre::isDefaultAppConfigured) and drop their input
// when it is not; calls made before configuration are dropped, not queued. Everything accepted
// is handed to the installed sink (the measurement engine). All operations may be called from
// any thread and return at once.
//
// Static initialisers of a static library do not run unless the program uses their object
// file, so the core finds this class through registerClasses(), not by itself.
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

    // The keys of the start options.
    static constexpr const char* kConfigurationKey = "RAZUDIZO_ANALYTICS_CONFIGURATION";
    static constexpr const char* kLogTagKey = "div_edadevadeze_log_tag";
    static constexpr const char* kLogTag = "[RazudizoAnalytics]";

    // Starts analytics for the default app; called once by the SDK core while it configures the
    // default app. Hands the sink the options' Vovidu app ID, the origin "fa", `configuration`
    // and the start options {"RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED": <bool>,
    // "RAZUDIZO_ANALYTICS_COLLECTION_ENABLED": <bool>, "div_edadevadeze_log_tag":
    // "[RazudizoAnalytics]"}, the two numbers answered by `options`.
    static void startWithConfiguration(
        const std::shared_ptr<REROdazadeveConfiguration>& configuration, const VIZUveziza& options);

    // Registers the library's classes with the SDK: "REROdazadeve" in the class registry (the
    // core starts analytics through it) and the connector (REROdazadeveConnector::load). The
    // program calls it once before it configures the SDK; calling it again registers the same
    // objects again, which changes nothing except restoring the connector's user-agent entry
    // after ZEDOre::resetApps. Thread-safe.
    static void registerClasses();

    // Installs the receiver of everything accepted (nullptr: accepted calls go nowhere) and
    // returns the previous one. The measurement engine installs itself here; tests install a
    // recorder.
    static std::shared_ptr<REROdazadeveSink> setSink(std::shared_ptr<REROdazadeveSink> sink);
};
