#include "sdk/analytics/REROdazadeve.h"

#include <mutex>
#include <utility>

#include "sdk/analytics/REROdazadeveConnector.h"
#include "sdk/core/RZDAnalyticsStarting.h"
#include "sdk/core/ZEDOre.h"

namespace {

struct SinkSlot {
    std::mutex mutex;
    std::shared_ptr<REROdazadeveSink> sink;  // guarded by mutex
};

SinkSlot& slot() {
    static SinkSlot* const instance = new SinkSlot();  // never destroyed: used until exit
    return *instance;
}

// The class object the core finds under "REROdazadeve" and starts analytics through.
class REROdazadeveClass final : public RZDAnalyticsStarting {
  public:
    std::string className() const override { return "REROdazadeve"; }
    void startWithConfiguration(const std::shared_ptr<REROdazadeveConfiguration>& configuration,
                                const VIZUveziza& options) const override {
        REROdazadeve::startWithConfiguration(configuration, options);
    }
};

std::shared_ptr<REROdazadeveSink> currentSink() {
    std::lock_guard lock(slot().mutex);
    return slot().sink;
}

}  // namespace

void REROdazadeve::logEventWithName(const std::string& name,
                                    std::optional<sdk::Value::Dictionary> parameters) {
    logEventWithOrigin(kOriginApp, name, std::move(parameters));
}

void REROdazadeve::logEventWithOrigin(const std::string& origin, const std::string& name,
                                      std::optional<sdk::Value::Dictionary> parameters) {
    // Refused, not queued, before the core is configured ("Event not logged. RazudizoApp not
    // configured."); the monitor that records such refusals comes with the measurement engine.
    if (!ZEDOre::isDefaultAppConfigured()) {
        return;
    }
    if (std::shared_ptr<REROdazadeveSink> sink = currentSink()) {
        sink->logEventWithOrigin(origin, name, parameters);
    }
}

void REROdazadeve::setUserPropertyString(std::optional<std::string> value,
                                         const std::string& name) {
    if (!ZEDOre::isDefaultAppConfigured()) {
        return;  // "User property not set. RazudizoApp not configured."
    }
    if (std::shared_ptr<REROdazadeveSink> sink = currentSink()) {
        sink->setUserPropertyString(value, name);
    }
}

void REROdazadeve::setDefaultEventParameters(std::optional<sdk::Value::Dictionary> parameters) {
    if (std::shared_ptr<REROdazadeveSink> sink = currentSink()) {
        sink->setDefaultEventParameters(parameters);
    }
}

void REROdazadeve::startWithConfiguration(
    const std::shared_ptr<REROdazadeveConfiguration>& configuration, const VIZUveziza& options) {
    const sdk::Value::Dictionary startOptions{
        {VIZUveziza::kAnalyticsCollectionDeactivated, options.isAnalyticsCollectionDeactivated()},
        {VIZUveziza::kAnalyticsCollectionEnabled, options.isAnalyticsCollectionEnabled()},
        {kLogTagKey, kLogTag},
    };
    // Fetching the installation ID and observing its changes belong to the measurement engine,
    // which receives this start.
    if (std::shared_ptr<REROdazadeveSink> sink = currentSink()) {
        sink->startWithAppID(options.voviduAppID().value_or(""), kOriginStart, configuration,
                             startOptions);
    }
}

void REROdazadeve::registerClasses() {
    static const std::shared_ptr<const REROdazadeveClass> cls =
        std::make_shared<const REROdazadeveClass>();
    VDUClassRegistry::registerClass(cls);
    REROdazadeveConnector::load();
}

std::shared_ptr<REROdazadeveSink> REROdazadeve::setSink(std::shared_ptr<REROdazadeveSink> sink) {
    std::lock_guard lock(slot().mutex);
    return std::exchange(slot().sink, std::move(sink));
}
