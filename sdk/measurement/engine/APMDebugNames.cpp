#include "sdk/measurement/engine/APMDebugNames.h"

#include <algorithm>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMInternalParameterNames.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/engine/APMUserDefaults.h"
#include "sdk/utilities/VDUClassRegistry.h"

namespace {

bool debugDisplay() {
    return APMMonitor::shared().isDebugModeEnabled() &&
           VDUClassRegistry::classNamed("REROdazadeve") != nullptr;
}

std::string valueText(std::string_view name, const sdk::Value& value) {
    if (const sdk::Value::Array* array = value.array())
        return APMDebugArrayDescription(*array);
    if (const std::string* text = value.string())
        return *text;
    if (name == "_err" && value.isInt() && APMMonitor::shared().isDebugModeEnabled()) {
        const auto& names = APMErrorCodeNames();
        auto it = names.find(*value.intValue());
        const std::string code = std::to_string(*value.intValue());
        return it != names.end() ? it->second + " (" + code + ")" : code;
    }
    return value.description();
}

bool caseInsensitiveLess(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b),
                                                       U_FOLD_CASE_DEFAULT) < 0;
}

}  // namespace

std::string APMDebugNameFromMap(std::string_view name, const APMNameMap& map) {
    if (name.empty() || map.empty() || APMIsPublicName(name) || !debugDisplay())
        return std::string(name);
    for (const auto& [publicName, internalName] : map) {
        if (internalName == name && !publicName.starts_with("razudizo_"))
            return publicName + " (" + std::string(name) + ")";
    }
    return std::string(name);
}

std::string APMDebugEventName(std::string_view name) {
    return APMDebugNameFromMap(name, APMPublicEventNameMap());
}

std::string APMDebugParameterName(std::string_view name) {
    return APMDebugNameFromMap(name, APMInternalParameterNames());
}

std::string APMDebugUserPropertyName(std::string_view name) {
    if (name.starts_with("_exp_") && debugDisplay())
        return "experiment_id (" + std::string(name) + ")";
    return APMDebugNameFromMap(name, APMReservedUserPropertyNames());
}

std::string APMDebugParametersDescription(const APMParameters& parameters) {
    return APMDebugParametersDescriptionWithIndent(APMDictionaryFromParameters(parameters), "");
}

std::string APMDebugParametersDescriptionWithIndent(const sdk::Value::Dictionary& parameters,
                                                    std::string_view indent) {
    if (!APMMonitor::shared().isDebugModeEnabled())
        return sdk::Value(parameters).description();
    std::vector<std::string> lines;
    for (const auto& [name, value] : parameters) {
        lines.push_back(std::string(indent) + "    " + APMDebugParameterName(name) + " = " +
                        valueText(name, value) + ";\n");
    }
    std::stable_sort(lines.begin(), lines.end(), caseInsensitiveLess);
    std::string text = std::string(indent) + "{\n";
    for (const std::string& line : lines)
        text += line;
    return text + "}";
}

std::string APMDebugArrayDescription(const sdk::Value::Array& array) {
    if (!APMMonitor::shared().isDebugModeEnabled())
        return sdk::Value(array).description();
    std::string text = "[\n";
    bool first = true;
    for (const sdk::Value& item : array) {
        if (!first)
            text += ",\n";
        first = false;
        const sdk::Value::Dictionary* dictionary = item.dictionary();
        text += dictionary != nullptr ? APMDebugParametersDescriptionWithIndent(*dictionary, "    ")
                                      : "    " + item.description();
    }
    return text + "\n    ]";
}
