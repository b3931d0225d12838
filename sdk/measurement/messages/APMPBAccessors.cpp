#include "sdk/measurement/messages/APMPBAccessors.h"

#include <cstdlib>
#include <cstring>

#include "sdk/measurement/messages/MessageCodec.h"
#include "sdk/measurement/messages/MessageLog.h"
#include "sdk/measurement/messages/NanoRoutines.h"

using apmpb::MessageInfo;
using apmpb::MessageLog;
using apmpb::MessageType;
using apmpb::RepeatedHolder;
using apmpb::StringHolder;
namespace codec = apmpb::MessageCodec;

namespace {

// One accessor's texts and slot test.
struct Access {
    const char* uninitialised;
    const char* wrongKind;  // nullptr: every kind is accepted
    bool (*accepts)(std::uint32_t flags);
};

// The slot an accessor may work on.
struct Slot {
    MessageInfo* info;
    const MessageType* type;
    std::uint32_t index;
    std::uint32_t flags;
    void** value;
};

constexpr const char* kOutOfRange =
    "<Nano/Failure> Field ID out of range. Message: %s, field ID: %d";

bool anyKind(std::uint32_t) {
    return true;
}

// The common start of every accessor: an initialised message, a field ID in range and a slot
// of the accepted kind, or the matching text and no slot.
std::optional<Slot> open(const NANOMessageBase* message, std::int32_t fieldID,
                         const Access& access) {
    MessageInfo* info = message != nullptr ? message->messageInfo() : nullptr;
    if (info == nullptr || info->fields == nullptr) {
        MessageLog::accessor(access.uninitialised,
                             {message != nullptr ? message->messageID() : "(null)"});
        return std::nullopt;
    }
    const MessageType& type = message->messageType();
    if (fieldID < 0 || static_cast<std::uint32_t>(fieldID) >= type.slotCount) {
        MessageLog::accessor(kOutOfRange, {type.name, fieldID});
        return std::nullopt;
    }
    const auto index = static_cast<std::uint32_t>(fieldID);
    const std::uint32_t flags = type.typeFlags[index];
    if (!access.accepts(flags)) {
        MessageLog::accessor(access.wrongKind, {type.name, fieldID});
        return std::nullopt;
    }
    return Slot{info, &type, index, flags, &info->fields[index]};
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
const Access kGetArray{
    "ProtocolBuffer message hasn't been initialized. GetArray can't be performed",
    "<Nano/Failure> Field type isn't REPEATED. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0x8) != 0; }};
const Access kSetArray{
    "ProtocolBuffer message hasn't been initialized. SetArray can't be performed",
    kGetArray.wrongKind, kGetArray.accepts};

template <class T>
T readCell(const void* cell) {
    T value{};
    if (cell != nullptr)
        std::memcpy(&value, cell, sizeof(T));
    return value;
}

void clearSlot(const Slot& slot) {
    codec::deallocField(*slot.type, slot.info, slot.index);
}

// True for well-formed UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool isValidUtf8(const std::uint8_t* s, std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t c = s[i];
        std::size_t extra = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else
            return false;
        if (n - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::optional<std::string> stringOf(const StringHolder* holder) {
    if (holder == nullptr || holder->bytes == nullptr)
        return std::nullopt;
    if (!isValidUtf8(holder->bytes, holder->length))
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(holder->bytes), holder->length);
}

std::optional<sdk::Bytes> bytesOf(const StringHolder* holder) {
    if (holder == nullptr || holder->bytes == nullptr)
        return std::nullopt;
    return sdk::Bytes(holder->bytes, holder->bytes + holder->length);
}

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

namespace {

const char* valueClassName(const sdk::Value& value) {
    switch (value.type()) {
        case sdk::Value::Type::kNull:
            return "NSNull";
        case sdk::Value::Type::kBool:
        case sdk::Value::Type::kInt:
        case sdk::Value::Type::kDouble:
            return "NSNumber";
        case sdk::Value::Type::kString:
            return "NSString";
        case sdk::Value::Type::kBytes:
            return "NSData";
        case sdk::Value::Type::kDate:
            return "NSDate";
        case sdk::Value::Type::kArray:
            return "NSArray";
        case sdk::Value::Type::kDictionary:
            return "NSDictionary";
    }
    return "NSObject";
}

const char* elementClassName(const APMPBRepeatedElement& element) {
    if (const auto* value = std::get_if<sdk::Value>(&element))
        return valueClassName(*value);
    const auto& message = std::get<std::shared_ptr<NANOMessageBase>>(element);
    return message != nullptr ? message->className() : "NSNull";
}

// The element as a number, or nullptr after logging the kind's "Invalid object type" line.
const sdk::Value* numberOf(const APMPBRepeatedElement& element, const char* kind) {
    const auto* value = std::get_if<sdk::Value>(&element);
    if (value != nullptr && value->isNumber())
        return value;
    MessageLog::accessor("<ERROR> Invalid object type. %s fields expect NSNumber. Type: %s",
                         {kind, elementClassName(element)});
    return nullptr;
}

bool storeMessage(const MessageType& child, const APMPBRepeatedElement& element, void** position) {
    const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
    if (message == nullptr || *message == nullptr || (*message)->messageInfo() == nullptr) {
        MessageLog::accessor(
            "<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: %s",
            {elementClassName(element)});
        return false;
    }
    if (&(*message)->messageType() != &child) {
        MessageLog::accessor("<ERROR> Invalid object type. Message fields expect %s. Type: %s",
                             {child.className, (*message)->className()});
        return false;
    }
    return (*message)->copyMessageInfoFn()(reinterpret_cast<MessageInfo**>(position),
                                           (*message)->messageInfo());
}

bool storeText(const APMPBRepeatedElement& element, bool bytes, void** position) {
    const auto* value = std::get_if<sdk::Value>(&element);
    if (!bytes && value != nullptr && value->string() != nullptr) {
        return apmpb::nano_set_string(position, value->string()->data(), value->string()->size());
    }
    if (bytes && value != nullptr && value->bytes() != nullptr) {
        return apmpb::nano_set_string(position, value->bytes()->data(), value->bytes()->size());
    }
    MessageLog::accessor(bytes ? "<ERROR> Invalid object type. Bytes fields expect NSData. Type: %s"
                               : "<ERROR> Invalid object type. String fields expect NSString. "
                                 "Type: %s",
                         {elementClassName(element)});
    return false;
}

// Stores one element at `position` by the slot's kind, tested in the order the readers use.
bool storeElement(const Slot& slot, const APMPBRepeatedElement& element, void** position) {
    const std::uint32_t f = slot.flags;
    const sdk::Value* n = nullptr;
    if (f & 0x20) {
        return (n = numberOf(element, "Boolean")) &&
               apmpb::nano_set_bool(position, *n->numberAsBool());
    }
    if (f & 0x180) {
        return (n = numberOf(element, "Int32")) &&
               apmpb::nano_set_uint32(position, static_cast<std::uint32_t>(*n->numberAsInt()));
    }
    if (f & 0x600) {
        return (n = numberOf(element, "Int64")) &&
               apmpb::nano_set_uint64(position, static_cast<std::uint64_t>(*n->numberAsInt()));
    }
    if (f & 0x800) {
        return (n = numberOf(element, "Float")) &&
               apmpb::nano_set_float(position, static_cast<float>(*n->numberAsDouble()));
    }
    if (f & 0x1000) {
        return (n = numberOf(element, "Double")) &&
               apmpb::nano_set_double(position, *n->numberAsDouble());
    }
    if (f & 0x40) {
        return (n = numberOf(element, "Enum")) &&
               apmpb::nano_set_uint32(position, static_cast<std::uint32_t>(*n->numberAsInt()));
    }
    if (f & (0x2000 | 0x8000))
        return storeText(element, (f & 0x2000) == 0, position);
    if (f & 0x4000)
        return storeMessage(*slot.type->children[slot.index], element, position);
    MessageLog::accessor("<ERROR> Unable to convert ObjC object to byte data. Unknown type. %d",
                         {f});
    return false;
}

// The element at `cell` as a value or wrapper, or nothing (logged, or invalid UTF-8).
std::optional<APMPBRepeatedElement> loadElement(std::uint32_t f, const void* cell,
                                                APMPBWrapperFactory elementClass) {
    if (f & 0x20)
        return sdk::Value(readCell<std::uint8_t>(cell) == 1);
    if (f & 0x80)
        return sdk::Value(static_cast<std::int32_t>(readCell<std::uint32_t>(cell)));
    if (f & 0x100)
        return sdk::Value(readCell<std::uint32_t>(cell));
    // A uint64 keeps its bits in the signed 64-bit value (bit sets use all 64 bits).
    if (f & 0x600)
        return sdk::Value(readCell<std::int64_t>(cell));
    if (f & 0x800)
        return sdk::Value(static_cast<double>(readCell<float>(cell)));
    if (f & 0x1000)
        return sdk::Value(readCell<double>(cell));
    if (f & 0x40)
        return sdk::Value(static_cast<std::int32_t>(readCell<std::uint32_t>(cell)));
    if (f & 0x2000) {
        auto text = stringOf(static_cast<const StringHolder*>(cell));
        if (!text)
            return std::nullopt;
        return sdk::Value(std::move(*text));
    }
    if (f & 0x8000)
        return sdk::Value(*bytesOf(static_cast<const StringHolder*>(cell)));
    if (f & 0x4000) {
        if (elementClass == nullptr) {
            MessageLog::accessor(
                "<ERROR> Provided class doesn't implement initWithMessageInfo: "
                "method. Class: %s",
                {"(null)"});
            return std::nullopt;
        }
        auto wrapper = elementClass(static_cast<const MessageInfo*>(cell));
        if (wrapper == nullptr)
            return std::nullopt;
        return APMPBRepeatedElement(std::move(wrapper));
    }
    MessageLog::accessor("<ERROR> Unable to convert byte data to an ObjC object. Unknown type. %d",
                         {f});
    return std::nullopt;
}

}  // namespace

std::optional<APMPBRepeatedArray> APMPBGetRepeated(const NANOMessageBase* message,
                                                   std::int32_t fieldID,
                                                   APMPBWrapperFactory elementClass) {
    auto slot = open(message, fieldID, kGetArray);
    if (!slot)
        return std::nullopt;
    const auto* holder = static_cast<const RepeatedHolder*>(*slot->value);
    if (holder == nullptr) {
        MessageLog::accessor("<ERROR> Repeated field should have been allocated");
        return std::nullopt;
    }
    APMPBRepeatedArray out;
    if (holder->items == nullptr)
        return out;
    out.reserve(holder->count);
    for (std::uint32_t i = 0; i < holder->count; ++i) {
        if (holder->items[i] == nullptr) {
            MessageLog::accessor("<ERROR> Unable to convert NULL data to an ObjC object");
            continue;
        }
        if (auto element = loadElement(slot->flags, holder->items[i], elementClass)) {
            out.push_back(std::move(*element));
        }
    }
    return out;
}

void APMPBSetRepeated(NANOMessageBase* message, std::int32_t fieldID,
                      const std::optional<APMPBRepeatedArray>& values) {
    auto slot = open(message, fieldID, kSetArray);
    if (!slot)
        return;
    auto* holder = static_cast<RepeatedHolder*>(*slot->value);
    if (holder == nullptr) {
        MessageLog::accessor("<ERROR> Repeated field should have been allocated");
        return;
    }
    clearSlot(*slot);
    if (!values || values->empty())
        return;
    holder->items = static_cast<void**>(std::calloc(values->size(), sizeof(void*)));
    if (holder->items == nullptr) {
        MessageLog::accessor("<ERROR> Unable to set NULL data to an ObjC object");
        return;
    }
    holder->count = static_cast<std::uint32_t>(values->size());
    for (std::size_t i = 0; i < values->size(); ++i) {
        if (!storeElement(*slot, (*values)[i], &holder->items[i])) {
            clearSlot(*slot);  // all or nothing
            return;
        }
    }
}
