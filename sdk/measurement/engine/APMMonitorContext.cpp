#include "sdk/measurement/engine/APMMonitorContext.h"

#include <charconv>

namespace {

std::string describeValue(const sdk::Value& value) {
    switch (value.type()) {
        case sdk::Value::Type::kNull:
            return "<null>";
        case sdk::Value::Type::kString:
            return *value.string();
        case sdk::Value::Type::kBool:
            return *value.boolValue() ? "1" : "0";
        case sdk::Value::Type::kInt:
            return std::to_string(*value.intValue());
        case sdk::Value::Type::kDouble: {
            char buffer[32];
            auto result = std::to_chars(buffer, buffer + sizeof buffer, *value.doubleValue());
            return std::string(buffer, result.ptr);
        }
        default:
            return value.description();
    }
}

}  // namespace

std::string APMMonitorContext::description() const {
    if (const sdk::Value* held = value()) {
        return describeValue(*held);
    }
    if (const sdk::Error* held = error()) {
        return "Error Domain=" + held->domain() + " Code=" + std::to_string(held->code()) + " \"" +
               held->localizedDescription() + "\"";
    }
    return "<null>";
}
