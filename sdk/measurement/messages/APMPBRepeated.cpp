#include "sdk/measurement/messages/APMPBAccessors.h"

#include <cstdlib>

#include "sdk/measurement/messages/AccessorSlot.h"
#include "sdk/measurement/messages/MessageLog.h"
#include "sdk/measurement/messages/NanoRoutines.h"

using apmpb::MessageInfo;
using apmpb::MessageLog;
using apmpb::MessageType;
using apmpb::RepeatedHolder;
using apmpb::StringHolder;
using apmpb::accessor::Access;
using apmpb::accessor::bytesOf;
using apmpb::accessor::clearSlot;
using apmpb::accessor::open;
using apmpb::accessor::readCell;
using apmpb::accessor::Slot;
using apmpb::accessor::stringOf;

namespace {

const Access kGetArray{
    "ProtocolBuffer message hasn't been initialized. GetArray can't be performed",
    "<Nano/Failure> Field type isn't REPEATED. Message: %s, field ID: %d",
    [](std::uint32_t f) { return (f & 0x8) != 0; }};
const Access kSetArray{
    "ProtocolBuffer message hasn't been initialized. SetArray can't be performed",
    kGetArray.wrongKind, kGetArray.accepts};

const Access kVisitArray{
    "ProtocolBuffer message hasn't been initialized. VisitArray can't be performed",
    "<Nano/Failure> Field type isn't REPEATED message. Message: %s, field ID: %d",
    [](std::uint32_t f) {
        return (f & apmpb::kFlagRepeated) != 0 && (f & apmpb::kFlagMessage) != 0;
    }};

// A wrapper over a record that another message owns: nothing is freed when it goes.
class BorrowedMessage final : public NANOMessageBase {
  public:
    BorrowedMessage(const MessageType& type, MessageInfo* info) : type_(type) {
        messageInfo_ = InfoPtr(info, InfoDeleter{nullptr});
    }
    const MessageType& messageType() const override { return type_; }

  private:
    const MessageType& type_;
};

const char* elementClassName(const APMPBRepeatedElement& element) {
    if (const auto* value = std::get_if<sdk::Value>(&element))
        return value->className();
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

bool APMPBVisitRepeatedMessages(const NANOMessageBase* message, std::int32_t fieldID,
                                const std::function<bool(const NANOMessageBase&)>& visit) {
    auto slot = open(message, fieldID, kVisitArray);
    if (!slot)
        return false;
    const auto* holder = static_cast<const RepeatedHolder*>(*slot->value);
    const MessageType* elementType = slot->type->children[slot->index];
    if (holder == nullptr || elementType == nullptr) {
        MessageLog::accessor("<ERROR> Repeated field should have been allocated");
        return false;
    }
    for (std::uint32_t i = 0; holder->items != nullptr && i < holder->count; ++i) {
        if (holder->items[i] == nullptr)
            continue;
        const BorrowedMessage element(*elementType, static_cast<MessageInfo*>(holder->items[i]));
        if (!visit(element))
            return false;
    }
    return true;
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
