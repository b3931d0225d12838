#include "sdk/measurement/messages/APMPBAccessors.h"

#include "sdk/measurement/messages/AccessorSlot.h"
#include "sdk/measurement/messages/MessageCodec.h"
#include "sdk/measurement/messages/MessageLog.h"
#include "sdk/measurement/messages/NanoRoutines.h"

using apmpb::MessageInfo;
using apmpb::MessageLog;
using apmpb::MessageType;
using apmpb::StringHolder;
using apmpb::accessor::Access;
using apmpb::accessor::bytesOf;
using apmpb::accessor::clearSlot;
using apmpb::accessor::kOutOfRange;
using apmpb::accessor::open;
using apmpb::accessor::readCell;
using apmpb::accessor::Slot;
using apmpb::accessor::stringOf;
namespace codec = apmpb::MessageCodec;

namespace {

bool anyKind(std::uint32_t) {
    return true;
}

const Access kHas{
    "ProtocolBuffer message hasn't been initialized. HasField operation can't be "
    "performed. Message name %s",
    nullptr, &anyKind};
const Access kGetBool{"ProtocolBuffer message hasn't been initialized. GetBool can't be performed",
                      "<Nano/Failure> Field type isn't a scalar BOOL. Message: %s, field ID: %d",
                      [](std::uint32_t f) { return (f & 0x28) == 0x20; }};
const Access kSetBool{"ProtocolBuffer message hasn't been initialized. SetBool can't be performed",
                      kGetBool.wrongKind, kGetBool.accepts};
const Access kGetInt32{
    "ProtocolBuffer message hasn't been initialized. GetInt32 can't be performed",
    "<Nano/Failure> Field type isn't a scalar INT32. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0x1C0) != 0 && (f & 0x8) == 0; }};
const Access kSetInt32{
    "ProtocolBuffer message hasn't been initialized. SetInt32 can't be performed",
    kGetInt32.wrongKind, kGetInt32.accepts};
const Access kGetInt64{
    "ProtocolBuffer message hasn't been initialized. GetInt64 can't be performed",
    "<Nano/Failure> Field type isn't a scalar INT64. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0x600) != 0 && (f & 0x8) == 0; }};
const Access kSetInt64{
    "ProtocolBuffer message hasn't been initialized. SetInt64 can't be performed",
    kGetInt64.wrongKind, kGetInt64.accepts};
const Access kGetFloat{
    "ProtocolBuffer message hasn't been initialized. GetFloat can't be performed",
    "<Nano/Failure> Field type isn't a scalar FLOAT. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0x808) == 0x800; }};
const Access kSetFloat{
    "ProtocolBuffer message hasn't been initialized. SetFloat can't be performed",
    kGetFloat.wrongKind, kGetFloat.accepts};
const Access kGetDouble{
    "ProtocolBuffer message hasn't been initialized. GetDouble can't be performed",
    "<Nano/Failure> Field type isn't a scalar DOUBLE. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0x1008) == 0x1000; }};
const Access kSetDouble{
    "ProtocolBuffer message hasn't been initialized. SetDouble can't be performed",
    kGetDouble.wrongKind, kGetDouble.accepts};
const Access kGetString{
    "ProtocolBuffer message hasn't been initialized. GetString can't be performed",
    "<Nano/Failure> Field type isn't a scalar STRING. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0x2008) == 0x2000; }};
const Access kSetString{
    "ProtocolBuffer message hasn't been initialized. SetString can't be performed",
    kGetString.wrongKind, kGetString.accepts};
const Access kGetBytes{
    "ProtocolBuffer message hasn't been initialized. GetBytes can't be performed",
    "<Nano/Failure> Field type isn't a scalar BYTES. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0xA000) != 0 && (f & 0x8) == 0; }};
const Access kSetBytes{
    "ProtocolBuffer message hasn't been initialized. SetBytes can't be performed",
    kGetBytes.wrongKind, kGetBytes.accepts};
const Access kGetMessage{
    "ProtocolBuffer message hasn't been initialized. GetMessage can't be performed",
    "<Nano/Failure> Field type isn't a scalar MESSAGE. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0x4008) == 0x4000; }};
const Access kSetMessage{
    "ProtocolBuffer message hasn't been initialized. SetMessage can't be performed",
    kGetMessage.wrongKind, kGetMessage.accepts};
}  // namespace

bool APMPBHasField(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kHas);
    if (!slot)
        return false;
    return (slot->flags & apmpb::kFlagRepeated) != 0 || *slot->value != nullptr;
}

void APMPBClearField(NANOMessageBase* message, std::int32_t fieldID) {
    MessageInfo* info = message != nullptr ? message->messageInfo() : nullptr;
    if (info == nullptr || info->fields == nullptr) {
        MessageLog::accessor(
            "ProtocolBuffer message hasn't been initialized. ClearField can't be performed");
        return;
    }
    if (fieldID < 0) {
        MessageLog::accessor(kOutOfRange, {message->messageID(), fieldID});
        return;
    }
    // A slot past the end is refused by the field-release operation itself, with its line.
    message->deallocMessageFieldFn()(info, static_cast<std::uint32_t>(fieldID));
}

bool APMPBGetBool(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kGetBool);
    return slot && *slot->value != nullptr && readCell<std::uint8_t>(*slot->value) == 1;
}

void APMPBSetBool(NANOMessageBase* message, std::int32_t fieldID, bool value) {
    if (auto slot = open(message, fieldID, kSetBool))
        apmpb::nano_set_uint32(slot->value, value);
}

std::uint32_t APMPBGetInt32(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kGetInt32);
    return slot ? readCell<std::uint32_t>(*slot->value) : 0;
}

void APMPBSetInt32(NANOMessageBase* message, std::int32_t fieldID, std::uint32_t value) {
    if (auto slot = open(message, fieldID, kSetInt32))
        apmpb::nano_set_uint32(slot->value, value);
}

std::int64_t APMPBGetInt64(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kGetInt64);
    return slot ? readCell<std::int64_t>(*slot->value) : 0;
}

void APMPBSetInt64(NANOMessageBase* message, std::int32_t fieldID, std::int64_t value) {
    if (auto slot = open(message, fieldID, kSetInt64)) {
        apmpb::nano_set_uint64(slot->value, static_cast<std::uint64_t>(value));
    }
}

float APMPBGetFloat(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kGetFloat);
    return slot ? readCell<float>(*slot->value) : 0.0f;
}

void APMPBSetFloat(NANOMessageBase* message, std::int32_t fieldID, float value) {
    if (auto slot = open(message, fieldID, kSetFloat))
        apmpb::nano_set_float(slot->value, value);
}

double APMPBGetDouble(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kGetDouble);
    return slot ? readCell<double>(*slot->value) : 0.0;
}

void APMPBSetDouble(NANOMessageBase* message, std::int32_t fieldID, double value) {
    if (auto slot = open(message, fieldID, kSetDouble))
        apmpb::nano_set_double(slot->value, value);
}

std::optional<std::string> APMPBGetString(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kGetString);
    return slot ? stringOf(static_cast<const StringHolder*>(*slot->value)) : std::nullopt;
}

void APMPBSetString(NANOMessageBase* message, std::int32_t fieldID,
                    std::optional<std::string_view> value) {
    auto slot = open(message, fieldID, kSetString);
    if (!slot)
        return;
    if (!value) {
        clearSlot(*slot);
        return;
    }
    apmpb::nano_set_string(slot->value, value->data(), value->size());
}

std::optional<sdk::Bytes> APMPBGetBytes(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kGetBytes);
    return slot ? bytesOf(static_cast<const StringHolder*>(*slot->value)) : std::nullopt;
}

void APMPBSetBytes(NANOMessageBase* message, std::int32_t fieldID,
                   const std::optional<sdk::Bytes>& value) {
    auto slot = open(message, fieldID, kSetBytes);
    if (!slot)
        return;
    if (!value) {
        clearSlot(*slot);
        return;
    }
    apmpb::nano_set_string(slot->value, value->data(), value->size());
}

const MessageInfo* APMPBMessageSlot(const NANOMessageBase* message, std::int32_t fieldID) {
    auto slot = open(message, fieldID, kGetMessage);
    return slot ? static_cast<const MessageInfo*>(*slot->value) : nullptr;
}

void APMPBSetMessage(NANOMessageBase* message, std::int32_t fieldID, const NANOMessageBase* value) {
    auto slot = open(message, fieldID, kSetMessage);
    if (!slot)
        return;
    const MessageType& child = *slot->type->children[slot->index];
    if (value == nullptr || value->messageInfo() == nullptr) {
        clearSlot(*slot);
        return;
    }
    if (&value->messageType() != &child) {
        MessageLog::accessor("<ERROR> Invalid object type. Message fields expect %s. Type: %s",
                             {child.className, value->className()});
        return;
    }
    // Copy before releasing the old child, so a value that shares data with it stays valid.
    MessageInfo* copy = nullptr;
    if (!value->copyMessageInfoFn()(&copy, value->messageInfo())) {
        if (copy != nullptr)
            codec::free(child, copy);
        return;
    }
    clearSlot(*slot);
    *slot->value = copy;
}
