// The conversions between the engine's events and the events the editing scripts see. They
// belong to APMEvent but live with the script runtime, which the engine library does not link.
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/script/APMPEvent.h"

namespace {

bool isScalarParameter(const sdk::Value& value) {
    return value.isDouble() || value.isInt() || value.isString();
}

// An item list one level deep: each item keeps its double, integer and string entries.
sdk::Value::Array editItems(const sdk::Value::Array& items) {
    sdk::Value::Array converted;
    for (const sdk::Value& item : items) {
        const sdk::Value::Dictionary* entries = item.dictionary();
        if (entries == nullptr) {
            continue;
        }
        sdk::Value::Dictionary kept;
        for (const auto& [name, value] : *entries) {
            if (isScalarParameter(value)) {
                kept.emplace(name, value);
            }
        }
        converted.emplace_back(std::move(kept));
    }
    return converted;
}

const std::string& mappedName(const std::map<std::string, std::string, std::less<>>& names,
                              const std::string& name) {
    const auto found = names.find(name);
    return found == names.end() ? name : found->second;
}

}  // namespace

double APMEvent::editTimestampFromSeconds(double seconds) {
    return seconds * 1000.0;
}

double APMEvent::secondsFromEditTimestamp(double milliseconds) {
    return milliseconds / 1000.0;
}

APMPEvent APMEvent::editEvent() const {
    sdk::Value::Dictionary parameters;
    for (const auto& [name, value] : parameters_) {
        if (const sdk::Value::Array* items = value.arrayValue()) {
            parameters.emplace(name, editItems(*items));
        } else if (isScalarParameter(value.value())) {
            parameters.emplace(name, value.value());
        }
    }
    return APMPEvent(mappedName(APMInternalEventNameMap(), name_),
                     editTimestampFromSeconds(timestamp_), std::move(parameters));
}

std::optional<APMEvent> APMEvent::eventFromEditEvent(const APMPEvent& editEvent,
                                                     const APMParameterLimits& limits,
                                                     std::optional<double> seconds) {
    const sdk::Value* origin = editEvent.parameterForName("_o");
    const std::string* originText = origin != nullptr ? origin->string() : nullptr;
    return initWithOrigin(originText != nullptr ? *originText : "app", false,
                          mappedName(APMPublicEventNameMap(), editEvent.name()),
                          seconds.value_or(secondsFromEditTimestamp(editEvent.timestamp())), 0.0,
                          APMRawParametersFromDictionary(editEvent.parameters()), limits);
}
