#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

// A caught exception, as the monitor shows it. C++ exceptions carry no call stack, so the name
// stands in for the last SDK symbol of the stack.
struct APMCaughtException {
    // RZDException::name() for the SDK's own exceptions, else the demangled type.
    std::string name;
    // what() of a std::exception; empty for anything else that was thrown.
    std::string reason;

    // Describes the exception being handled.
    // REQUIRES: called inside a catch handler.
    static APMCaughtException current();
};

// One object attached to a monitor message: a value (a text, a number, bytes, ...), an error,
// a caught exception, or nothing (nil). The monitor shows it by its description.
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
    APMMonitorContext(APMCaughtException exception) : context_(std::move(exception)) {}

    // Nil and the null value read "<null>"; a text is itself; an integer its decimal digits, a
    // boolean 1 or 0, a double its shortest round-trip form; an error
    // `Error Domain=<domain> Code=<code> "<description>"`; an exception "<name>: <reason>";
    // other values their description.
    std::string description() const;

    const sdk::Value* value() const { return std::get_if<sdk::Value>(&context_); }
    const sdk::Error* error() const { return std::get_if<sdk::Error>(&context_); }
    const APMCaughtException* exception() const {
        return std::get_if<APMCaughtException>(&context_);
    }
    // True for nil and for the null value.
    bool isNull() const;

  private:
    std::variant<std::monostate, sdk::Value, sdk::Error, APMCaughtException> context_;
};
