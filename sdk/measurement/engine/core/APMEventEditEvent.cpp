#include "sdk/measurement/engine/core/APMEventEditEvent.h"

#include "sdk/measurement/engine/APMEventNames.h"

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

APMPEvent APMEventEditEvent(const APMEvent& event) {
    sdk::Value::Dictionary parameters;
    for (const auto& [name, value] : event.parameters()) {
        if (const sdk::Value::Array* items = value.arrayValue()) {
            parameters.emplace(name, editItems(*items));
        } else if (isScalarParameter(value.value())) {
            parameters.emplace(name, value.value());
        }
    }
    return APMPEvent(mappedName(APMInternalEventNameMap(), event.name()),
                     APMEvent::editTimestampFromSeconds(event.timestamp()), std::move(parameters));
}

std::optional<APMEvent> APMEventFromEditEvent(const APMPEvent& editEvent,
                                              const APMParameterLimits& limits,
                                              std::optional<double> seconds) {
    const sdk::Value* origin = editEvent.parameterForName("_o");
    const std::string* originText = origin != nullptr ? origin->string() : nullptr;
    return APMEvent::initWithOrigin(
        originText != nullptr ? *originText : "app", false,
        mappedName(APMPublicEventNameMap(), editEvent.name()),
        seconds.value_or(APMEvent::secondsFromEditTimestamp(editEvent.timestamp())), 0.0,
        APMRawParametersFromDictionary(editEvent.parameters()), limits);
}
