#pragma once

#include <optional>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"
#include "sdk/utilities/Value.h"

// Conversions between program data and runtime values.
//
// RuntimeEntity messages are the programs' wire form: literals (string, number, boolean) and
// statements whose arguments are entities again. A tree is converted at most
// APMPRuntimeBudget::kMaxDepth levels deep; a deeper one fails with error 18.
//
// Plain values (sdk::Value) are what the event-editing layer reads events from and writes them
// back to. Nested plain values are walked at most APMPRuntimeBudget::kMaxDepth levels deep;
// deeper (or cyclic) data fails with error 18.
class APMPRuntimeEntityConverter {
  public:
    // A string of the entity's string_value; "" when absent.
    static APMPValueRef stringValueFromRuntimeEntity(const NANOMessageBase& entity);
    // A number of the entity's number_value; NaN when absent.
    static APMPValueRef numberValueFromRuntimeEntity(const NANOMessageBase& entity);
    // The shared boolean of the entity's boolean_value; false when absent.
    static APMPValueRef booleanValueFromRuntimeEntity(const NANOMessageBase& entity);
    // A statement of the entity's function_name and its converted arguments: error 14 without
    // a name; the first argument's error stops the conversion. Errors give undefined.
    static APMPValueRef statementValueFromRuntimeEntity(const NANOMessageBase& entity,
                                                        sdk::Error& error);
    // The entity by its type: 1 string, 2 number, 3 boolean, 4 statement; 0 (absent) or any
    // other type fails with error 12. Only the field of the entity's type is read. Errors give
    // undefined.
    static APMPValueRef runtimeValueFromRuntimeEntity(const NANOMessageBase& entity,
                                                      sdk::Error& error);

    // A runtime value of `object`: null gives null; a boolean the shared boolean; an integer or
    // a double a number; a string a string; a dictionary a new map and an array a new array,
    // both tracked by `scope`'s object manager, their contents converted in turn. Bytes and
    // dates fail with error 13. Any error gives undefined.
    static APMPValueRef runtimeValueFromObject(const sdk::Value& object, const APMPScope& scope,
                                               sdk::Error& error);

    // The plain value of `value`: null gives none; undefined ""; a map a dictionary
    // (dictionaryFromMapValue()); an array an array of its converted elements, holes as "" and
    // nulls left out; anything else its number as a double when that is not NaN, else its
    // string. Any error gives none.
    static std::optional<sdk::Value> objectFromRuntimeValue(const APMPRuntimeValue& value,
                                                            sdk::Error& error);

    // One entry per property of `map`, converted as objectFromRuntimeValue(); null properties
    // are left out; the first error stops the conversion (then none).
    static std::optional<sdk::Value::Dictionary> dictionaryFromMapValue(const APMPMapValue& map,
                                                                        sdk::Error& error);

  private:
    static APMPValueRef fromEntity(const NANOMessageBase& entity, sdk::Error& error, int depth);
    static APMPValueRef fromStatement(const NANOMessageBase& entity, sdk::Error& error, int depth);
    static APMPValueRef fromObject(const sdk::Value& object, const APMPScope& scope,
                                   sdk::Error& error, int depth);
    static std::optional<sdk::Value> toObject(const APMPRuntimeValue& value, sdk::Error& error,
                                              int depth);
    static std::optional<sdk::Value::Dictionary> toDictionary(const APMPMapValue& map,
                                                              sdk::Error& error, int depth);
};
