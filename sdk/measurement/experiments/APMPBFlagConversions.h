#pragma once

#include <memory>
#include <optional>

#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/utilities/Value.h"

// Conversions between a Flag message and a plain value, for the experiments client: reading a
// flag of a fetched snapshot, and making the default flags a client registers.

// The flag's value: the first present of int_value (an integer), double_value (a double),
// string_value (a string) and bool_value (a boolean), tested in that order. nullopt for a null
// flag or one without a value.
std::optional<sdk::Value> APMPBFlagValueObject(const APMPBFlag* flag);

// A new flag named `name` holding `value`. A string goes to string_value, a double to
// double_value, any other number (an integer or a boolean) to int_value; bool_value is never
// set. nullptr, logged through APMEMonitor at level 1, when `name` is null (850000), `name` is
// not a string (850001, with its type as context) or `value` is neither a number nor a string
// (850002, with its type as context).
std::unique_ptr<APMPBFlag> APMPBFlagWithNameValue(const sdk::Value& name, const sdk::Value& value);
