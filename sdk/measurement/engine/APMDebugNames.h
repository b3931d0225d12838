#pragma once

#include <string>
#include <string_view>

#include "sdk/measurement/engine/APMEventNameLists.h"
#include "sdk/measurement/engine/APMValue.h"

// Readable forms of internal names and parameter dictionaries for log messages. With the
// monitor's debug mode on (and the public analytics interface present), an internal name is
// shown with its public name: "_vs" reads "screen_view (_vs)". Otherwise, and for any name the
// tables do not know, the name is shown as it is. Safe from any thread.

// "<public> (<name>)" for the first public key of `map` (public -> internal) whose value is
// `name`, skipping "razudizo_" keys.
std::string APMDebugNameFromMap(std::string_view name, const APMNameMap& map);
std::string APMDebugEventName(std::string_view name);
std::string APMDebugParameterName(std::string_view name);
// "_exp_<n>" reads "experiment_id (_exp_<n>)"; others by the reserved user property map.
std::string APMDebugUserPropertyName(std::string_view name);

// With debug mode on, one "<indent>    <name> = <value>;" line per parameter, sorted
// case-insensitively, between "{" and "}"; otherwise the plain description. An "_err" code
// reads "<error name> (<code>)".
std::string APMDebugParametersDescription(const APMParameters& parameters);
std::string APMDebugParametersDescriptionWithIndent(const sdk::Value::Dictionary& parameters,
                                                    std::string_view indent);
// With debug mode on, "[", each item dictionary indented by four spaces, "]" on lines of their
// own; otherwise the plain description.
std::string APMDebugArrayDescription(const sdk::Value::Array& array);
