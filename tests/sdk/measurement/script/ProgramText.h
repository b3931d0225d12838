#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// The compact text form in which tests write programs, encoded as RuntimeEntity messages:
//
//   program   := entity*                      (separated by white space, "," or ";")
//   entity    := string | number | boolean | statement
//   string    := '"' text '"'                 (\" and \\ escape)
//   number    := decimal | NaN | Infinity | -Infinity
//   boolean   := true | false
//   statement := name '(' [entity {',' entity}] ')'
//   name      := letters, digits, '_' and '.'   ("0(1, 2)" is the statement "0")
//
// Example: `41("x", 0(1, 2))`.
namespace program_text {

// The entities of `text`, in order; nullopt with `problem` set when the text does not parse.
std::optional<APMPBRepeatedArray> Entities(std::string_view text, std::string* problem = nullptr);

// One entity; null unless `text` holds exactly one.
std::shared_ptr<APMPBRuntimeEntity> Entity(std::string_view text);

// A Program whose instructions are the entities of `text`; null when it does not parse.
//
// Activities may follow the instructions, each after " || " as `name: entity*`:
//   50("act", 7("rule"), ...) || act: 8("k", 1) 8("k", 2)
std::unique_ptr<APMPBProgram> Program(std::string_view text, std::string* problem = nullptr);

}  // namespace program_text
