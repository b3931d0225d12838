#include "sdk/measurement/script/APMPEventContext.h"

void APMPEventContext::setInputEvent(APMPEvent event) {
    outputEvent_ = event;
    inputEvent_ = std::move(event);
    loggedEvents_.clear();
}

void APMPEventContext::logEventWithName(std::string name, double timestamp,
                                        const sdk::Value::Dictionary& parameters) {
    sdk::Value::Dictionary coerced;
    for (const auto& [key, value] : parameters) {
        coerced.emplace(key,
                        APMPEvent::coercedValue(key, inputEvent_.parameterForName(key), value));
    }
    loggedEvents_.emplace_back(std::move(name), timestamp, std::move(coerced));
}
