// Decoding: the decode callbacks, the two passes and the nesting limit.
#include "sdk/measurement/messages/MessageCodec.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "sdk/measurement/messages/CodecSupport.h"
#include "sdk/measurement/messages/MessageLog.h"
#include "sdk/measurement/messages/MessageTables.h"
#include "sdk/measurement/messages/NanoRoutines.h"

namespace apmpb::MessageCodec {

using detail::kScalarKinds;
using detail::newMessage;
using detail::slotOf;
using detail::WorkingStruct;

namespace {

// Input of one decode: the read position and how deep this message sits. Substreams that
// nanopb makes for fields share it, so a callback learns the depth of its message.
struct InputCursor {
    const pb_byte_t* position;
    std::uint32_t depth;
};

bool readCursor(pb_istream_t* stream, pb_byte_t* buffer, std::size_t count) {
    auto* cursor = static_cast<InputCursor*>(stream->state);
    if (buffer != nullptr)
        std::memcpy(buffer, cursor->position, count);
    cursor->position += count;
    return true;
}

pb_istream_t inputStream(InputCursor* cursor, std::size_t length) {
    pb_istream_t stream = PB_ISTREAM_EMPTY;
    stream.callback = &readCursor;
    stream.state = cursor;
    stream.bytes_left = length;
    return stream;
}

std::uint64_t readUnsigned(const void* data, std::size_t size) {
    switch (size) {
        case 1:
            return *static_cast<const std::uint8_t*>(data);
        case 2:
            return *static_cast<const std::uint16_t*>(data);
        case 4:
            return *static_cast<const std::uint32_t*>(data);
        default:
            return *static_cast<const std::uint64_t*>(data);
    }
}

// Stores the working struct's value of a present scalar field into its slot.
bool storeScalar(std::uint32_t flags, const pb_field_iter_t& field, void** slot) {
    if (flags & kFlagBool)
        return nano_set_bool(slot, *static_cast<const bool*>(field.pData));
    if (flags & kFlagFloat)
        return nano_set_float(slot, *static_cast<const float*>(field.pData));
    if (flags & kFlagDouble) {
        return nano_set_double(slot, *static_cast<const double*>(field.pData));
    }
    const std::uint64_t value = readUnsigned(field.pData, field.data_size);
    if (flags & (kFlagInt64 | kFlagUInt64))
        return nano_set_uint64(slot, value);
    return nano_set_uint32(slot, static_cast<std::uint32_t>(value));
}

bool decodeAt(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
              MessageInfo* info, std::uint32_t depth);

bool runDecode(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
               std::uint32_t depth, void* work) {
    InputCursor cursor{bytes, depth};
    pb_istream_t stream = inputStream(&cursor, length);
    if (pb_decode(&stream, type.descriptor, work))
        return true;
    MessageLog::codec("<ERROR> %s decoder failed: %s", {type.name, PB_GET_ERROR(&stream)});
    return false;
}

bool decodeAt(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
              MessageInfo* info, std::uint32_t depth) {
    if (info == nullptr) {
        MessageLog::codec("<ERROR> %s decoder failed: message_info is NULL", {type.name});
        return false;
    }
    WorkingStruct work(type.structSize);
    if (!setDecoders(type, info, work.get())) {
        MessageLog::codec("<ERROR> %s decoder failed: Unable to set decoders", {type.name});
        return false;
    }
    if (!runDecode(type, bytes, length, depth, work.get()))
        return false;
    if (type.twoPass) {
        if (!allocArrays(type, info)) {
            MessageLog::codec("<ERROR> %s decoder failed: Unable to allocate arrays", {type.name});
            return false;
        }
        if (!runDecode(type, bytes, length, depth, work.get()))
            return false;
    }
    postDecodeCopy(type, work.get(), info);
    return true;
}

// Decodes one element of a repeated message field (second pass) into its position.
bool decodeElement(const MessageType& type, pb_istream_t* stream, void** position,
                   std::uint32_t depth) {
    const std::size_t n = stream->bytes_left;
    std::unique_ptr<std::uint8_t[]> copyOfBytes(new (std::nothrow) std::uint8_t[n + 1]);
    if (copyOfBytes == nullptr || !pb_read(stream, copyOfBytes.get(), n)) {
        MessageLog::codec("<ERROR> %s decoder failed: Unable to extract buffer from stream",
                          {type.name});
        return false;
    }
    auto* element = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (element == nullptr)
        return false;
    *position = element;
    if (!init(type, element)) {
        MessageLog::codec("<ERROR> %s decoder failed: Unable to initialize MessageInfo",
                          {type.name});
        return false;
    }
    if (!decodeAt(type, copyOfBytes.get(), n, element, depth)) {
        MessageLog::codec("<ERROR> %s decoder failed: Unable to decode repeated %s",
                          {type.name, type.name});
        return false;
    }
    return true;
}

}  // namespace

bool setDecoders(const MessageType& type, MessageInfo* info, void* work) {
    if (info == nullptr || work == nullptr || info->fields == nullptr)
        return false;
    pb_field_iter_t field;
    if (!pb_field_iter_begin(&field, type.descriptor, work))
        return true;
    do {
        const int slot = slotOf(type, field);
        if (slot < 0)
            return false;
        const std::uint32_t flags = type.typeFlags[slot];
        if (flags & kFlagRepeated) {
            // Elements of an earlier decode are released, so decoding never leaks them.
            deallocField(type, info, static_cast<std::uint32_t>(slot));
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.decode = (flags & kFlagMessage) ? &decodeRepeated
                                     : (flags & (kFlagString | kFlagBytes))
                                         ? &nano_decode_repeated_string
                                         : &nano_decode_repeated_varint;
            callback->arg = info->fields[slot];
        } else if (flags & (kFlagString | kFlagBytes)) {
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.decode = &nano_decode_string;
            callback->arg = &info->fields[slot];
        } else if (flags & kFlagMessage) {
            deallocField(type, info, static_cast<std::uint32_t>(slot));
            const MessageType& child = *type.children[slot];
            MessageInfo* childInfo = newMessage(child);
            if (childInfo == nullptr)
                return false;
            info->fields[slot] = childInfo;
            if (!setDecoders(child, childInfo, field.pData))
                return false;
        }
    } while (pb_field_iter_next(&field));
    return true;
}

void postDecodeCopy(const MessageType& type, const void* work, MessageInfo* info) {
    pb_field_iter_t field;
    if (!pb_field_iter_begin_const(&field, type.descriptor, work))
        return;
    do {
        const int slot = slotOf(type, field);
        if (slot < 0)
            continue;
        const std::uint32_t flags = type.typeFlags[slot];
        if ((flags & kFlagRepeated) || PB_ATYPE(field.type) != PB_ATYPE_STATIC)
            continue;
        const bool present = *static_cast<const bool*>(field.pSize);
        if (flags & kFlagMessage) {
            const MessageType& child = *type.children[slot];
            auto* childInfo = static_cast<MessageInfo*>(info->fields[slot]);
            if (present && childInfo != nullptr) {
                postDecodeCopy(child, field.pData, childInfo);
            } else {
                if (childInfo != nullptr)
                    free(child, childInfo);
                info->fields[slot] = nullptr;
            }
        } else if (present && (flags & kScalarKinds)) {
            storeScalar(flags, field, &info->fields[slot]);
        }
    } while (pb_field_iter_next(&field));
}

bool decode(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
            MessageInfo* info) {
    return decodeAt(type, bytes, length, info, 1);
}

bool decodeRepeated(pb_istream_t* stream, const pb_field_t* field, void** arg) {
    const MessageType* type = typeOfDescriptor(field->submsg_desc);
    if (type == nullptr)
        return false;
    auto* holder = arg != nullptr ? static_cast<RepeatedHolder*>(*arg) : nullptr;
    if (holder == nullptr) {
        MessageLog::codec("<ERROR> %s decoder failed: Invalid arg parameter", {type->name});
        return false;
    }
    // A message element is always length-delimited; only then is the stream ours and its
    // depth known.
    if (stream->callback != &readCursor)
        PB_RETURN_ERROR(stream, "wrong wire type");
    if (holder->items == nullptr) {
        if (!pb_read(stream, nullptr, stream->bytes_left)) {
            MessageLog::codec("<ERROR> %s decoder failed: %s", {type->name, PB_GET_ERROR(stream)});
            return false;
        }
        if (holder->count == UINT32_MAX)
            PB_RETURN_ERROR(stream, "too many elements");
        ++holder->count;
        return true;
    }
    const std::uint32_t depth = static_cast<InputCursor*>(stream->state)->depth;
    const std::uint32_t limit =
        type == &kRuntimeEntityType ? kMaxProgramDecodeDepth : kMaxDecodeDepth;
    if (depth >= limit)
        PB_RETURN_ERROR(stream, "nesting too deep");
    if (holder->filled >= holder->count)
        PB_RETURN_ERROR(stream, "too many elements");
    if (!decodeElement(*type, stream, &holder->items[holder->filled], depth + 1))
        return false;
    ++holder->filled;
    return true;
}

}  // namespace apmpb::MessageCodec
