#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

// An event as the editing scripts see it: a name, a timestamp (milliseconds since 1970: the
// engine converts its events' seconds at the boundary) and plain parameters. A number parameter
// keeps its kind: an integer and a double are different values, as the engine encodes them
// differently.
//
// Values written through setParameter() are coerced to the kind the parameter already has
// (coercedValue()). Plain data: copies are independent; one thread at a time.
class APMPEvent {
  public:
    APMPEvent() = default;
    APMPEvent(std::string name, double timestamp, sdk::Value::Dictionary parameters)
        : parameters_(std::move(parameters)), name_(std::move(name)), timestamp_(timestamp) {}

    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    double timestamp() const { return timestamp_; }
    const sdk::Value::Dictionary& parameters() const { return parameters_; }

    // The parameter's value; nullptr when the event has none of that name.
    const sdk::Value* parameterForName(std::string_view name) const;
    bool hasParameterName(std::string_view name) const { return parameterForName(name) != nullptr; }
    // No value removes the parameter; otherwise stores `value` coerced against the current
    // value of `name`.
    void setParameter(std::optional<sdk::Value> value, const std::string& name);

    // Equal when the timestamps differ by at most the double epsilon, the names are the same
    // and every parameter either event has is present in both with the same value of the same
    // kind (integer 5 differs from double 5.0). A removed parameter therefore makes the events
    // differ.
    bool isEqualToEvent(const APMPEvent& other) const;

    // The value stored when `value` is written to the parameter `name` whose current value is
    // `old` (null: none):
    //  1. anything but a number is stored unchanged;
    //  2. "_syn", "_err" and "_el" store the number as an integer (truncated, saturating);
    //  3. over a number: a double stores the number unchanged; an integer stores it truncated
    //     to an integer, except under a name beginning with "_", where the old value stays;
    //  4. over a string: the number's text (the shortest that reads back as the same double);
    //  5. otherwise the number unchanged.
    static sdk::Value coercedValue(std::string_view name, const sdk::Value* old, sdk::Value value);

  private:
    sdk::Value::Dictionary parameters_;
    std::string name_;
    double timestamp_ = 0.0;
};
