#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

// One object attached to a monitor message: a value (a text, a number, bytes, ...), an error,
// or nothing (nil). The monitor shows it by its description.
class APMMonitorContext {
  public:
    // Nothing: described as "<null>".
    APMMonitorContext() = default;
    APMMonitorContext(sdk::Value value) : context_(std::move(value)) {}
    APMMonitorContext(sdk::Error error) : context_(std::move(error)) {}
    APMMonitorContext(const char* text) : context_(sdk::Value(text)) {}
    APMMonitorContext(std::string text) : context_(sdk::Value(std::move(text))) {}
    APMMonitorContext(std::string_view text) : context_(sdk::Value(text)) {}
    template <std::integral T>
    APMMonitorContext(T number) : context_(sdk::Value(number)) {}
    APMMonitorContext(double number) : context_(sdk::Value(number)) {}

    // Nil and the null value read "<null>"; a text is itself; an integer its decimal digits, a
    // boolean 1 or 0, a double its shortest round-trip form; an error
    // `Error Domain=<domain> Code=<code> "<description>"`; other values their description.
    std::string description() const;

    const sdk::Value* value() const { return std::get_if<sdk::Value>(&context_); }
    const sdk::Error* error() const { return std::get_if<sdk::Error>(&context_); }

  private:
    std::variant<std::monostate, sdk::Value, sdk::Error> context_;
};
