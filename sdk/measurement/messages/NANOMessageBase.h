#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sdk/measurement/messages/MessageInfo.h"
#include "sdk/measurement/messages/MessageType.h"
#include "sdk/utilities/Value.h"

// The base of every message wrapper: an object that owns exactly one in-memory message
// (MessageInfo) of its type, made empty, by deep copy or from encoded bytes, and encodes
// itself with protoBuffer. Fields are read and written only through the APMPB accessors.
//
// Ownership: the wrapper owns its record alone and frees it with the type's free operation.
// Thread-safety: none; a wrapper is filled and encoded on one thread and may be read from
// others only while nobody writes to it.
class NANOMessageBase {
  public:
    using InitFn = std::function<bool(apmpb::MessageInfo*)>;
    using DeallocFieldFn = std::function<bool(apmpb::MessageInfo*, std::uint32_t)>;
    using CopyFn = std::function<bool(apmpb::MessageInfo**, const apmpb::MessageInfo*)>;

    virtual ~NANOMessageBase();
    NANOMessageBase(const NANOMessageBase&) = delete;
    NANOMessageBase& operator=(const NANOMessageBase&) = delete;

    // The message type this wrapper holds.
    virtual const apmpb::MessageType& messageType() const = 0;

    // The encoded message; empty (not nullopt) for a message without fields; nullopt when
    // encoding fails (the codec prints why).
    std::optional<sdk::Bytes> protoBuffer() const;
    // The message name, e.g. "Event"; static.
    const char* messageID() const { return messageType().name; }
    // The wrapper's class name, e.g. "APMPBEvent"; static.
    const char* className() const { return messageType().className; }
    // The owned record. The wrapper keeps ownership: do not free it or use it after the
    // wrapper is gone.
    apmpb::MessageInfo* messageInfo() const { return messageInfo_.get(); }
    // The type's init, field-release and deep-copy operations.
    InitFn initMessageInfoFn() const;
    DeallocFieldFn deallocMessageFieldFn() const;
    CopyFn copyMessageInfoFn() const;

  protected:
    struct InfoDeleter {
        const apmpb::MessageType* type;
        void operator()(apmpb::MessageInfo* info) const;
    };
    using InfoPtr = std::unique_ptr<apmpb::MessageInfo, InfoDeleter>;

    NANOMessageBase() = default;

    // A deep copy of `info` when its name is `type`'s (compared as text), or an empty message
    // when `info` is null; a null pointer for another type or a failed copy.
    static InfoPtr copyOrMake(const apmpb::MessageType& type, const apmpb::MessageInfo* info);
    // A record decoded from `bytes`; a null pointer when they do not decode.
    static InfoPtr decodeBytes(const apmpb::MessageType& type, const std::uint8_t* bytes,
                               std::size_t length);

    InfoPtr messageInfo_{nullptr, InfoDeleter{nullptr}};
};

// Makes a wrapper of the element's class over a deep copy of an element; nullptr when the
// record is of another type. Used by APMPBGetRepeated for message elements.
using APMPBWrapperFactory = std::shared_ptr<NANOMessageBase> (*)(const apmpb::MessageInfo* info);
