#include "sdk/analytics/REROdazadeve.h"

#include <mutex>
#include <utility>

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

// The core starts analytics through this registration, made when this library is linked in.
[[maybe_unused]] const bool kRegisteredWithCore =
    (ZEDOre::registerAnalyticsStarter(&REROdazadeve::startWithConfiguration), true);

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

void REROdazadeve::startWithConfiguration(const std::string& voviduAppID) {
    if (std::shared_ptr<REROdazadeveSink> sink = currentSink()) {
        sink->startWithAppID(voviduAppID, kOriginStart);
    }
}

std::shared_ptr<REROdazadeveSink> REROdazadeve::setSink(std::shared_ptr<REROdazadeveSink> sink) {
    std::lock_guard lock(slot().mutex);
    return std::exchange(slot().sink, std::move(sink));
}
