#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "sdk/measurement/messages/MessageInfo.h"
#include "sdk/measurement/messages/MessageType.h"
#include "sdk/measurement/messages/NANOMessageBase.h"
#include "sdk/utilities/Value.h"

// What the APMPB accessors share: the common start of every accessor and the readers of
// stored values. Internal to this folder.
namespace apmpb::accessor {

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

inline constexpr const char* kOutOfRange =
    "<Nano/Failure> Field ID out of range. Message: %s, field ID: %d";

// An initialised message, a field ID in range and a slot of the accepted kind; otherwise the
// matching text is logged and there is no slot.
std::optional<Slot> open(const NANOMessageBase* message, std::int32_t fieldID,
                         const Access& access);

// Releases the slot's value through the type's field-release operation.
void clearSlot(const Slot& slot);

// The value of a cell; zero for a null cell.
template <class T>
T readCell(const void* cell) {
    T value{};
    if (cell != nullptr)
        std::memcpy(&value, cell, sizeof(T));
    return value;
}

// The holder's text; nullopt when absent, without bytes, or not valid UTF-8.
std::optional<std::string> stringOf(const StringHolder* holder);
// The holder's bytes; nullopt when absent or without bytes.
std::optional<sdk::Bytes> bytesOf(const StringHolder* holder);

}  // namespace apmpb::accessor
