#pragma once

#include <cstddef>
#include <cstdint>

#include <pb.h>

namespace apmpb {

// Type flags of one slot: exactly one label bit and one kind bit.
inline constexpr std::uint32_t kFlagSingular = 0x0002;
inline constexpr std::uint32_t kFlagRepeated = 0x0008;
inline constexpr std::uint32_t kFlagBool = 0x0020;
inline constexpr std::uint32_t kFlagEnum = 0x0040;
inline constexpr std::uint32_t kFlagInt32 = 0x0080;
inline constexpr std::uint32_t kFlagUInt32 = 0x0100;
inline constexpr std::uint32_t kFlagInt64 = 0x0200;
inline constexpr std::uint32_t kFlagUInt64 = 0x0400;
inline constexpr std::uint32_t kFlagFloat = 0x0800;
inline constexpr std::uint32_t kFlagDouble = 0x1000;
inline constexpr std::uint32_t kFlagString = 0x2000;
inline constexpr std::uint32_t kFlagMessage = 0x4000;
inline constexpr std::uint32_t kFlagBytes = 0x8000;

// The static description of one wire message, generated from the .proto files together with
// nanopb's descriptor. Slots are the message's fields in declaration order; a slot is the field
// ID of the accessors. Every pointer refers to static data that lives for the whole program.
struct MessageType {
    const char* name;       // the message name, e.g. "Event"
    const char* className;  // its wrapper class name, e.g. "APMPBEvent"
    std::uint32_t slotCount;
    const std::uint32_t* typeFlags;      // per slot
    const std::uint32_t* tags;           // per slot: the field number
    const char* const* fieldNames;       // per slot
    const MessageType* const* children;  // per slot: the element or child type, or nullptr
    const std::int16_t* slotByTag;       // per field number up to largestTag: the slot, or -1
    std::uint32_t largestTag;
    const pb_msgdesc_t* descriptor;  // nanopb's descriptor of the working struct
    std::size_t structSize;          // sizeof the working struct
    bool twoPass;                    // the message's tree holds a repeated field

    // The slot of field number `tag`, or -1 when the message does not declare it.
    int slotOfTag(std::uint32_t tag) const { return tag <= largestTag ? slotByTag[tag] : -1; }
};

}  // namespace apmpb
