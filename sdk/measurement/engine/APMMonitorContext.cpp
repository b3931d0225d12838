#include "sdk/measurement/engine/APMMonitorContext.h"

#include <cxxabi.h>

#include <charconv>
#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#include "sdk/core/RZDException.h"

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

std::string demangledName(const std::type_info* type) {
    if (type == nullptr) {
        return "unknown exception";
    }
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(type->name());
}

}  // namespace

APMCaughtException APMCaughtException::current() {
    try {
        throw;
    } catch (const RZDException& e) {
        return {e.name(), e.what()};
    } catch (const std::exception& e) {
        return {demangledName(&typeid(e)), e.what()};
    } catch (...) {
        return {demangledName(abi::__cxa_current_exception_type()), {}};
    }
}

bool APMMonitorContext::isNull() const {
    const sdk::Value* held = value();
    return std::holds_alternative<std::monostate>(context_) || (held != nullptr && held->isNull());
}

std::string APMMonitorContext::description() const {
    if (const sdk::Value* held = value()) {
        return describeValue(*held);
    }
    if (const sdk::Error* held = error()) {
        return "Error Domain=" + held->domain() + " Code=" + std::to_string(held->code()) + " \"" +
               held->localizedDescription() + "\"";
    }
    if (const APMCaughtException* held = exception()) {
        return held->name + ": " + held->reason;
    }
    return "<null>";
}
