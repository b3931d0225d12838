#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sdk/measurement/messages/NANOMessageBase.h"
#include "sdk/utilities/Value.h"

// Field access by field ID (the slot: the field's position in its message's declaration
// order). Every accessor takes the message first, which may be null or uninitialised, and
// checks the slot's kind. A failure is logged (MessageLog::accessor; the codec's own lines go
// to MessageLog::codec) and turns into a neutral result: false, 0, 0.0, nullopt/nullptr, or no
// change. Getters hand out copies; setters copy in, so callers keep their own objects.
// No locking: a message is used by one thread at a time.

// One element of a repeated field: a number, string or data value for scalar and string
// fields, a wrapper for message fields.
using APMPBRepeatedElement = std::variant<sdk::Value, std::shared_ptr<NANOMessageBase>>;
using APMPBRepeatedArray = std::vector<APMPBRepeatedElement>;

// True when the slot holds a value; a repeated slot is always true.
bool APMPBHasField(const NANOMessageBase* message, std::int32_t fieldID);
// Releases the slot's value; a repeated field keeps its now empty holder.
void APMPBClearField(NANOMessageBase* message, std::int32_t fieldID);

// A singular bool slot. Absent reads false.
bool APMPBGetBool(const NANOMessageBase* message, std::int32_t fieldID);
void APMPBSetBool(NANOMessageBase* message, std::int32_t fieldID, bool value);
// A singular int32, uint32 or enum slot, as its low 32 bits (an int32 reads as signed once
// cast). Absent reads 0.
std::uint32_t APMPBGetInt32(const NANOMessageBase* message, std::int32_t fieldID);
void APMPBSetInt32(NANOMessageBase* message, std::int32_t fieldID, std::uint32_t value);
// A singular int64 or uint64 slot (a uint64 keeps its bits). Absent reads 0.
std::int64_t APMPBGetInt64(const NANOMessageBase* message, std::int32_t fieldID);
void APMPBSetInt64(NANOMessageBase* message, std::int32_t fieldID, std::int64_t value);
float APMPBGetFloat(const NANOMessageBase* message, std::int32_t fieldID);
void APMPBSetFloat(NANOMessageBase* message, std::int32_t fieldID, float value);
double APMPBGetDouble(const NANOMessageBase* message, std::int32_t fieldID);
void APMPBSetDouble(NANOMessageBase* message, std::int32_t fieldID, double value);

// A singular string slot. Absent, or bytes that are not valid UTF-8: nullopt. Setting nullopt
// clears the slot.
std::optional<std::string> APMPBGetString(const NANOMessageBase* message, std::int32_t fieldID);
void APMPBSetString(NANOMessageBase* message, std::int32_t fieldID,
                    std::optional<std::string_view> value);
// The raw bytes of a singular string or bytes slot; nullopt when absent. Setting nullopt
// clears the slot.
std::optional<sdk::Bytes> APMPBGetBytes(const NANOMessageBase* message, std::int32_t fieldID);
void APMPBSetBytes(NANOMessageBase* message, std::int32_t fieldID,
                   const std::optional<sdk::Bytes>& value);

// The child record of a singular message slot for APMPBGetMessage; nullptr when absent or on
// failure (logged).
const apmpb::MessageInfo* APMPBMessageSlot(const NANOMessageBase* message, std::int32_t fieldID);
// A new wrapper over a deep copy of a singular message slot's child; nullptr when absent, or
// when W is not the child's type.
template <class W>
std::unique_ptr<W> APMPBGetMessage(const NANOMessageBase* message, std::int32_t fieldID) {
    const apmpb::MessageInfo* child = APMPBMessageSlot(message, fieldID);
    return child != nullptr ? W::initWithMessageInfo(child) : nullptr;
}
// Stores a deep copy of `value` in a singular message slot; null clears the slot. A value of
// another message type than the slot's is refused.
void APMPBSetMessage(NANOMessageBase* message, std::int32_t fieldID, const NANOMessageBase* value);

// The elements of a repeated slot, in order; message elements are made by `elementClass`.
// nullopt for a slot that is not repeated.
std::optional<APMPBRepeatedArray> APMPBGetRepeated(const NANOMessageBase* message,
                                                   std::int32_t fieldID,
                                                   APMPBWrapperFactory elementClass = nullptr);
template <class W>
std::optional<APMPBRepeatedArray> APMPBGetRepeated(const NANOMessageBase* message,
                                                   std::int32_t fieldID) {
    return APMPBGetRepeated(message, fieldID, &W::makeShared);
}
// Calls `visit` with each element of a repeated message slot, in order, without copying: the
// element is lent for the call only and must not be kept or changed. Stops when `visit`
// returns false. False for a slot that is not a repeated message slot (logged) or when
// `visit` stopped; true otherwise. For readers of large trees (programs), where a copy per
// level would cost time in proportion to size times depth.
bool APMPBVisitRepeatedMessages(const NANOMessageBase* message, std::int32_t fieldID,
                                const std::function<bool(const NANOMessageBase&)>& visit);
// Replaces the elements of a repeated slot by copies of `values` (nullopt: no elements). All
// or nothing: an element of the wrong kind is logged and leaves the field empty.
void APMPBSetRepeated(NANOMessageBase* message, std::int32_t fieldID,
                      const std::optional<APMPBRepeatedArray>& values);
