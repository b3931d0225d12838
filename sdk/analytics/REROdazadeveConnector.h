#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/core/REZUzavurede.h"
#include "sdk/core/RZDComponentInstance.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/utilities/Value.h"

// A component that hears the events analytics logs, through the connector.
class REROdazadeveAnalyticsListener {
  public:
    virtual ~REROdazadeveAnalyticsListener() = default;
    // On the main queue: the event's name and its parameters as plain numbers and strings.
    virtual void messageTriggered(const std::string& name,
                                  const sdk::Value::Dictionary& parameters) = 0;
};

// How other SDK components, each known by a short origin ("rcm", "rdl", "riam", "rrc", "rcx",
// "crash"), reach analytics without linking against it: they ask the core's component container
// for "REROdazadeveInterop" and get a connector. The connector filters what they may log, set
// and hear through fixed lists (ZUVIdezavideRudur), hands conditional user properties to their
// controller, and relays logged events to the registered listeners.
//
// The class registers with the core as the library "rzd-analytics" at "11.15.0" and offers one
// lazy component for the protocol "REROdazadeveInterop"; each request makes a new, uncached
// connector instance.
//
// Thread-safety: any thread. Listener relays run on the connector queue
// "com.vovidu.analytics_connector.queue" and end on the main queue; the listener map is guarded
// by a mutex (it is written by callers and read by the relays). maxUserProperties blocks its
// caller for up to ten seconds.
class REROdazadeveConnector final : public RZDComponentInstance,
                                    public std::enable_shared_from_this<REROdazadeveConnector> {
  public:
    static constexpr const char* kClassName = "REROdazadeveConnector";
    static constexpr const char* kInteropProtocol = "REROdazadeveInterop";
    static constexpr const char* kLibraryName = "rzd-analytics";
    static constexpr const char* kLibraryVersion = "11.15.0";

    // The class object: named kClassName, an RZDLibrary whose componentsToRegister() is the one
    // lazy "REROdazadeveInterop" component. The same object on every call.
    static const std::shared_ptr<const RZDLibrary>& connectorClass();

    // The load-time hook: registers the class object in the class registry and with the core
    // (ZEDOre::registerInternalLibrary as "rzd-analytics", "11.15.0"). Safe to call again.
    static void load();

    // True for "REROdazadeveInterop".
    bool conformsTo(std::string_view protocol) const override;

    // The serial queue shared by every connector, made once.
    static const platform::QueueRef& connectorQueue();
    // How long maxUserProperties waits for its answer.
    static constexpr std::int64_t kMaxUserPropertiesWaitSeconds = 10;

    // Operations of "REROdazadeveInterop" ----------------------------------------------------

    // Logs an internal event of another component; nothing for a blocklisted origin, name or
    // parameter. "_cmp" gains "_cis" = "<origin>_integration" (rcm, rdl, riam, rrc); "_ae" from
    // "rcx" gains "_r" = 1.
    void logEventWithOrigin(const std::string& origin, const std::string& name,
                            const std::optional<sdk::Value::Dictionary>& parameters);
    // Sets (none removes) an internal user property unless the origin or name is refused.
    void setUserPropertyWithOrigin(const std::string& origin, const std::string& name,
                                   const std::optional<sdk::Value>& value);
    // The stored user properties a component may see ("_fot" and the public ones), on the
    // connector queue.
    void getUserPropertiesWithCallback(std::function<void(sdk::Value::Dictionary)> callback);
    // The most user properties `origin` may set; 0 when no answer came in time (or when called
    // on the connector queue, where the answer could never arrive).
    std::int32_t maxUserProperties(const std::string& origin);
    // Fills a conditional user property from `property` ("expiredEvent", "timedOutEvent",
    // "triggeredEvent" as event dictionaries, a string "value", the other fields under their own
    // names; keys and values of another kind are left out) and hands it to the controller.
    void setConditionalUserProperty(const sdk::Value::Dictionary& property);
    // Clears the property `name`; the clear event (origin, `clearEventName`) carries the first
    // entry of `clearEventParameters`.
    void clearConditionalUserProperty(const std::string& name, const std::string& origin,
                                      const std::string& clearEventName,
                                      const sdk::Value::Dictionary& clearEventParameters);
    // {"name", "value"} of each property with a name and a string value.
    std::vector<sdk::Value::Dictionary> conditionalUserProperties(const std::string& origin,
                                                                  const std::string& prefix);
    // Ignored for a null listener or an origin that may not listen.
    void registerAnalyticsListener(std::shared_ptr<REROdazadeveAnalyticsListener> listener,
                                   const std::string& origin);
    void unregisterAnalyticsListenerWithOrigin(const std::string& origin);

    // Supporting functions -------------------------------------------------------------------

    // The event of {"origin", "name", "timestamp" (seconds; now when absent), "parameters"};
    // none when it cannot be made.
    static std::optional<APMEvent> eventFromDictionary(const sdk::Value::Dictionary& dictionary);
    static std::optional<APMEvent> eventWithOrigin(const std::string& origin,
                                                   const std::string& name,
                                                   const sdk::Value::Dictionary& parameters);
    // Numbers and strings as they are; other values left out.
    static sdk::Value::Dictionary simplifiedParametersFromEventParameters(
        const APMParameters& parameters);

  private:
    using Listeners = std::map<std::string, std::shared_ptr<REROdazadeveAnalyticsListener>>;

    // The facade's log-event listener: relays `event` to its listener (below).
    void relay(const APMEvent& event);
    Listeners listenersSnapshot();

    std::mutex mutex_;
    // Registered listeners by origin; none while no listener is registered.
    std::optional<Listeners> listeners_;                           // guarded by mutex_
    std::optional<APMAnalytics::ListenerToken> logEventListener_;  // guarded by mutex_
};
