#include "sdk/analytics/REROdazadeveConnector.h"

#include "platform/dispatch/DispatchSemaphore.h"
#include "sdk/analytics/REROdazadeve.h"
#include "sdk/analytics/REROdazadeveConditionalUserProperties.h"
#include "sdk/analytics/REROdazadeveEngineConditionalUserProperties.h"
#include "sdk/analytics/ZUVIdezavideRudur.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/core/APMScreenViewReporter.h"

namespace {

const std::string* stringEntry(const sdk::Value::Dictionary& dictionary, std::string_view key) {
    const auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : found->second.string();
}

std::optional<double> numberEntry(const sdk::Value::Dictionary& dictionary, std::string_view key) {
    const auto found = dictionary.find(key);
    return found == dictionary.end() ? std::nullopt : found->second.numberAsDouble();
}

// The fields of a conditional user property by name, as a caller's dictionary sets them.
using PropertySetter = std::function<void(REROdazadeveConditionalUserProperty&, const sdk::Value&)>;

const std::map<std::string, PropertySetter, std::less<>>& propertySetters() {
    const auto text = [](std::optional<std::string> REROdazadeveConditionalUserProperty::*field) {
        return [field](REROdazadeveConditionalUserProperty& property, const sdk::Value& value) {
            if (const std::string* string = value.string()) {
                property.*field = *string;
            }
        };
    };
    const auto number = [](double REROdazadeveConditionalUserProperty::*field) {
        return [field](REROdazadeveConditionalUserProperty& property, const sdk::Value& value) {
            if (const std::optional<double> seconds = value.numberAsDouble()) {
                property.*field = *seconds;
            }
        };
    };
    const auto event = [](std::optional<APMEvent> REROdazadeveConditionalUserProperty::*field) {
        return [field](REROdazadeveConditionalUserProperty& property, const sdk::Value& value) {
            if (const sdk::Value::Dictionary* dictionary = value.dictionary()) {
                property.*field = REROdazadeveConnector::eventFromDictionary(*dictionary);
            }
        };
    };
    static const std::map<std::string, PropertySetter, std::less<>>& setters =
        *new std::map<std::string, PropertySetter, std::less<>>{
            {"name", text(&REROdazadeveConditionalUserProperty::name)},
            {"origin", text(&REROdazadeveConditionalUserProperty::origin)},
            {"value",
             [](REROdazadeveConditionalUserProperty& property, const sdk::Value& value) {
                 if (const std::string* string = value.string()) {
                     property.value = APMValue(*string);
                 }
             }},
            {"triggerEventName", text(&REROdazadeveConditionalUserProperty::triggerEventName)},
            {"triggerTimeout", number(&REROdazadeveConditionalUserProperty::triggerTimeout)},
            {"timeToLive", number(&REROdazadeveConditionalUserProperty::timeToLive)},
            {"triggeredEvent", event(&REROdazadeveConditionalUserProperty::triggeredEvent)},
            {"timedOutEvent", event(&REROdazadeveConditionalUserProperty::timedOutEvent)},
            {"expiredEvent", event(&REROdazadeveConditionalUserProperty::expiredEvent)},
            {"creationTimestamp", number(&REROdazadeveConditionalUserProperty::creationTimestamp)},
            {"active",
             [](REROdazadeveConditionalUserProperty& property, const sdk::Value& value) {
                 if (const std::optional<bool> active = value.numberAsBool()) {
                     property.active = *active;
                 }
             }},
            {"triggeredTimestamp",
             number(&REROdazadeveConditionalUserProperty::triggeredTimestamp)},
        };  // lives for the process
    return setters;
}

class REROdazadeveConnectorClass final : public RZDLibrary {
  public:
    std::string className() const override { return REROdazadeveConnector::kClassName; }

    std::vector<REZUzavurede> componentsToRegister() const override {
        // Not cacheable: every request gets a connector of its own.
        return {REZUzavurede::componentWithProtocol(
            REROdazadeveConnector::kInteropProtocol, RZDInstantiationTimingLazy,
            [](REZUzavuredeContainer&, bool*) -> std::shared_ptr<RZDComponentInstance> {
                return std::make_shared<REROdazadeveConnector>();
            })};
    }
};

std::mutex& sharedControllerMutex() {
    static std::mutex mutex;
    return mutex;
}

// Guarded by sharedControllerMutex().
std::shared_ptr<REROdazadeveConditionalUserPropertyController>& sharedController() {
    // Lives for the process.
    static std::shared_ptr<REROdazadeveConditionalUserPropertyController>& controller =
        *new std::shared_ptr<REROdazadeveConditionalUserPropertyController>(
            std::make_shared<REROdazadeveEngineConditionalUserProperties>());
    return controller;
}

}  // namespace

const std::shared_ptr<const RZDLibrary>& REROdazadeveConnector::connectorClass() {
    static const std::shared_ptr<const RZDLibrary>& cls = *new std::shared_ptr<const RZDLibrary>(
        std::make_shared<const REROdazadeveConnectorClass>());  // lives for the process
    return cls;
}

void REROdazadeveConnector::load() {
    VDUClassRegistry::registerClass(connectorClass());
    ZEDOre::registerInternalLibrary(connectorClass(), kLibraryName, kLibraryVersion);
}

bool REROdazadeveConnector::conformsTo(std::string_view protocol) const {
    return protocol == kInteropProtocol;
}

const platform::QueueRef& REROdazadeveConnector::connectorQueue() {
    static const platform::QueueRef& queue =
        *new platform::QueueRef(platform::DispatchQueue::createSerial(
            "com.vovidu.analytics_connector.queue"));  // lives for the process
    return queue;
}

void REROdazadeveConnector::logEventWithOrigin(
    const std::string& origin, const std::string& name,
    const std::optional<sdk::Value::Dictionary>& parameters) {
    sdk::Value::Dictionary amended = parameters.value_or(sdk::Value::Dictionary{});
    if (!ZUVIdezavideRudur::isOriginAllowed(origin) ||
        !ZUVIdezavideRudur::shouldLogEventWithName(name, amended)) {
        return;
    }
    if (name == "_cmp" &&
        (origin == "rcm" || origin == "rdl" || origin == "riam" || origin == "rrc")) {
        amended.insert_or_assign("_cis", sdk::Value(origin + "_integration"));
    }
    if (name == "_ae" && origin == "rcx") {
        amended.insert_or_assign("_r", sdk::Value(std::int64_t{1}));
    }
    REROdazadeve::logInternalEventWithOrigin(origin, name, amended);
}

void REROdazadeveConnector::setUserPropertyWithOrigin(const std::string& origin,
                                                      const std::string& name,
                                                      const std::optional<sdk::Value>& value) {
    if (ZUVIdezavideRudur::isOriginAllowed(origin) &&
        ZUVIdezavideRudur::isUserPropertyAllowed(name, origin)) {
        REROdazadeve::setInternalUserProperty(value, name, origin);
    }
}

void REROdazadeveConnector::getUserPropertiesWithCallback(
    std::function<void(sdk::Value::Dictionary)> callback) {
    REROdazadeve::userPropertiesIncludingInternal(
        true, connectorQueue(),
        [callback = std::move(callback)](sdk::Value::Dictionary properties) {
            std::erase_if(properties, [](const auto& entry) {
                return !ZUVIdezavideRudur::isUserPropertyAllowedForQuery(entry.first);
            });
            if (callback) {
                callback(std::move(properties));
            }
        });
}

std::int32_t REROdazadeveConnector::maxUserProperties(const std::string& origin) {
    if (connectorQueue()->isCurrent()) {
        return 0;  // the answer comes on this very queue: waiting could only time out
    }
    struct Answer {
        std::mutex mutex;
        std::optional<std::int32_t> value;  // guarded by mutex
        platform::DispatchSemaphore done{0};
    };
    auto answer = std::make_shared<Answer>();
    REROdazadeve::maxUserPropertiesForOrigin(origin, connectorQueue(),
                                             [answer](std::int32_t value) {
                                                 {
                                                     std::lock_guard lock(answer->mutex);
                                                     answer->value = value;
                                                 }
                                                 answer->done.signal();
                                             });
    if (!answer->done.wait(std::chrono::seconds(kMaxUserPropertiesWaitSeconds))) {
        return 0;
    }
    std::lock_guard lock(answer->mutex);
    return answer->value.value_or(0);
}

void REROdazadeveConnector::setConditionalUserProperty(const sdk::Value::Dictionary& property) {
    if (property.empty()) {
        return;
    }
    REROdazadeveConditionalUserProperty record;
    for (const auto& [key, value] : property) {
        if (const auto setter = propertySetters().find(key); setter != propertySetters().end()) {
            setter->second(record, value);
        }
    }
    REROdazadeveConditionalUserPropertyController::sharedInstance()->setConditionalUserProperty(
        record, record.name.value_or(""));
}

void REROdazadeveConnector::clearConditionalUserProperty(
    const std::string& name, const std::string& origin, const std::string& clearEventName,
    const sdk::Value::Dictionary& clearEventParameters) {
    std::optional<APMEvent> clearEvent;
    if (!clearEventParameters.empty()) {
        const auto& [key, value] = *clearEventParameters.begin();
        clearEvent = eventWithOrigin(origin, clearEventName, sdk::Value::Dictionary{{key, value}});
    }
    REROdazadeveConditionalUserPropertyController::sharedInstance()
        ->clearConditionalUserPropertyWithClearEvent(clearEvent, name);
}

std::vector<sdk::Value::Dictionary> REROdazadeveConnector::conditionalUserProperties(
    const std::string& origin, const std::string& prefix) {
    std::vector<sdk::Value::Dictionary> found;
    for (const REROdazadeveConditionalUserProperty& property :
         REROdazadeveConditionalUserPropertyController::sharedInstance()
             ->conditionalUserPropertiesWithNamePrefix(prefix, origin)) {
        const std::string* value = property.value ? property.value->stringValue() : nullptr;
        if (property.name && value != nullptr) {
            found.push_back({{"name", sdk::Value(*property.name)}, {"value", sdk::Value(*value)}});
        }
    }
    return found;
}

void REROdazadeveConnector::registerAnalyticsListener(
    std::shared_ptr<REROdazadeveAnalyticsListener> listener, const std::string& origin) {
    if (!listener || !ZUVIdezavideRudur::isListenerOriginAllowed(origin)) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (!listeners_) {
        listeners_.emplace();
        std::weak_ptr<REROdazadeveConnector> weak = weak_from_this();
        logEventListener_ = REROdazadeve::addLogEventListener([weak](const APMEvent& event) {
            if (std::shared_ptr<REROdazadeveConnector> connector = weak.lock()) {
                connector->relay(event);
            }
        });
    }
    listeners_->insert_or_assign(origin, std::move(listener));
}

void REROdazadeveConnector::unregisterAnalyticsListenerWithOrigin(const std::string& origin) {
    std::optional<APMAnalytics::ListenerToken> token;
    {
        std::lock_guard lock(mutex_);
        if (!listeners_) {
            return;
        }
        listeners_->erase(origin);
        if (!listeners_->empty()) {
            return;
        }
        listeners_.reset();
        token = std::exchange(logEventListener_, std::nullopt);
    }
    REROdazadeve::removeLogEventListener(token);
}

REROdazadeveConnector::Listeners REROdazadeveConnector::listenersSnapshot() {
    std::lock_guard lock(mutex_);
    return listeners_.value_or(Listeners{});
}

void REROdazadeveConnector::relay(const APMEvent& event) {
    if (!ZUVIdezavideRudur::isEventNameAllowedForListeners(event.name())) {
        return;
    }
    const Listeners listeners = listenersSnapshot();
    std::shared_ptr<REROdazadeveAnalyticsListener> target;
    if (const auto found = listeners.find(event.origin()); found != listeners.end()) {
        target = found->second;
    }
    const bool appOrigin = ZUVIdezavideRudur::isAppOrigin(event.origin());
    if (!target && !appOrigin) {
        const auto rcx = listeners.find("rcx");
        if (!ZUVIdezavideRudur::isEventNameAllowedForListenerOrigin(event.name(), "rcx") ||
            rcx == listeners.end()) {
            return;
        }
        target = rcx->second;
    }
    std::weak_ptr<REROdazadeveConnector> weak = weak_from_this();
    connectorQueue()->async(
        [weak, target, appOrigin, name = event.name(), parameters = event.parameters()] {
            sdk::Value::Dictionary simplified = simplifiedParametersFromEventParameters(parameters);
            platform::DispatchQueue::main()->async(
                [weak, target, appOrigin, name, simplified = std::move(simplified)] {
                    if (target) {
                        target->messageTriggered(name, simplified);
                        return;
                    }
                    std::shared_ptr<REROdazadeveConnector> connector = weak.lock();
                    if (!connector || !appOrigin) {
                        return;
                    }
                    for (const auto& [origin, listener] : connector->listenersSnapshot()) {
                        listener->messageTriggered(name, simplified);
                    }
                });
        });
}

std::optional<APMEvent> REROdazadeveConnector::eventFromDictionary(
    const sdk::Value::Dictionary& dictionary) {
    const std::string* origin = stringEntry(dictionary, "origin");
    const std::string* name = stringEntry(dictionary, "name");
    if (origin == nullptr || name == nullptr) {
        return std::nullopt;
    }
    const double timestamp =
        numberEntry(dictionary, "timestamp").value_or(APMCurrentTimeInterval());
    APMRawParameters parameters;
    if (const auto found = dictionary.find("parameters"); found != dictionary.end()) {
        if (const sdk::Value::Dictionary* given = found->second.dictionary()) {
            parameters = APMRawParametersFromDictionary(*given);
        }
    }
    // The configuration belongs to the engine's worker queue: the limits come from the copy
    // the engine hands the screen-view reporter.
    return APMEvent::initWithOrigin(*origin, false, *name, timestamp, 0, parameters,
                                    APMScreenViewReporter::sharedInstance()->parameterLimits());
}

std::optional<APMEvent> REROdazadeveConnector::eventWithOrigin(
    const std::string& origin, const std::string& name, const sdk::Value::Dictionary& parameters) {
    return eventFromDictionary({{"origin", sdk::Value(origin)},
                                {"name", sdk::Value(name)},
                                {"timestamp", sdk::Value(APMCurrentTimeInterval())},
                                {"parameters", sdk::Value(parameters)}});
}

sdk::Value::Dictionary REROdazadeveConnector::simplifiedParametersFromEventParameters(
    const APMParameters& parameters) {
    sdk::Value::Dictionary simplified;
    for (const auto& [name, value] : parameters) {
        if (value.isDouble()) {
            simplified.emplace(name, sdk::Value(value.doubleValue()));
        } else if (value.isInt64()) {
            simplified.emplace(name, sdk::Value(value.int64Value()));
        } else if (const std::string* text = value.stringValue()) {
            simplified.emplace(name, sdk::Value(*text));
        }
    }
    return simplified;
}

std::shared_ptr<REROdazadeveConditionalUserPropertyController>
REROdazadeveConditionalUserPropertyController::sharedInstance() {
    std::lock_guard lock(sharedControllerMutex());
    return sharedController();
}

void REROdazadeveConditionalUserPropertyController::setSharedInstance(
    std::shared_ptr<REROdazadeveConditionalUserPropertyController> controller) {
    std::lock_guard lock(sharedControllerMutex());
    sharedController() = controller
                             ? std::move(controller)
                             : std::make_shared<REROdazadeveEngineConditionalUserProperties>();
}
