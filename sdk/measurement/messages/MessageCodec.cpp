#include "sdk/measurement/messages/MessageCodec.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "sdk/measurement/messages/MessageLog.h"
#include "sdk/measurement/messages/MessageTables.h"
#include "sdk/measurement/messages/NanoRoutines.h"

namespace apmpb::MessageCodec {
namespace {

constexpr std::uint32_t kScalarKinds = kFlagBool | kFlagEnum | kFlagInt32 | kFlagUInt32 |
                                       kFlagInt64 | kFlagUInt64 | kFlagFloat | kFlagDouble;

// A zero-filled nanopb working struct on the heap. Its members are at most 8 bytes wide, so
// 64-bit words align it. (Words of a padded type such as max_align_t would leave their padding
// unset under value-initialisation.)
class WorkingStruct {
  public:
    explicit WorkingStruct(std::size_t size)
        : words_(size / sizeof(std::uint64_t) + 1), memory_(new std::uint64_t[words_]()) {}
    void* get() { return memory_.get(); }
    void clear() { std::memset(memory_.get(), 0, words_ * sizeof(std::uint64_t)); }

  private:
    std::size_t words_;
    std::unique_ptr<std::uint64_t[]> memory_;
};

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

int slotOf(const MessageType& type, const pb_field_iter_t& field) {
    return type.slotOfTag(field.tag);
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

void writeUnsigned(void* data, std::size_t size, std::uint64_t value) {
    switch (size) {
        case 1:
            *static_cast<std::uint8_t*>(data) = static_cast<std::uint8_t>(value);
            break;
        case 2:
            *static_cast<std::uint16_t*>(data) = static_cast<std::uint16_t>(value);
            break;
        case 4:
            *static_cast<std::uint32_t*>(data) = static_cast<std::uint32_t>(value);
            break;
        default:
            *static_cast<std::uint64_t*>(data) = value;
            break;
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

// Puts the value of a scalar cell into the working struct, narrowed to the field's width.
void loadScalar(std::uint32_t flags, const void* cell, const pb_field_iter_t& field) {
    if (flags & kFlagBool) {
        *static_cast<bool*>(field.pData) = *static_cast<const std::uint8_t*>(cell) != 0;
    } else if (flags & kFlagFloat) {
        std::memcpy(field.pData, cell, sizeof(float));
    } else if (flags & kFlagDouble) {
        std::memcpy(field.pData, cell, sizeof(double));
    } else {
        std::uint64_t value = 0;
        std::memcpy(&value, cell, sizeof(value));
        writeUnsigned(field.pData, field.data_size, value);
    }
    *static_cast<bool*>(field.pSize) = true;
}

void releaseElement(const MessageType& type, std::uint32_t slot, void* element) {
    if (element == nullptr)
        return;
    const std::uint32_t flags = type.typeFlags[slot];
    if (flags & kFlagMessage) {
        MessageCodec::free(*type.children[slot], static_cast<MessageInfo*>(element));
        return;
    }
    if (flags & (kFlagString | kFlagBytes))
        nano_string_free(static_cast<StringHolder*>(element));
    std::free(element);
}

// A copy of a value cell or string holder of a slot with `flags`.
bool copyValue(std::uint32_t flags, const void* source, void** destination) {
    if (flags & (kFlagString | kFlagBytes)) {
        const auto* holder = static_cast<const StringHolder*>(source);
        if (holder->bytes == nullptr) {
            *destination = std::calloc(1, sizeof(StringHolder));
            return *destination != nullptr;
        }
        return nano_set_string(destination, holder->bytes, holder->length);
    }
    const std::size_t size = (flags & kFlagFloat) ? sizeof(float) : sizeof(std::uint64_t);
    *destination = std::malloc(size);
    if (*destination == nullptr)
        return false;
    std::memcpy(*destination, source, size);
    return true;
}

bool copySlot(const MessageType& type, std::uint32_t slot, const MessageInfo* source,
              MessageInfo* destination) {
    const std::uint32_t flags = type.typeFlags[slot];
    const void* from = source->fields[slot];
    void** to = &destination->fields[slot];
    if (flags & kFlagRepeated) {
        const auto* sourceHolder = static_cast<const RepeatedHolder*>(from);
        auto* holder = static_cast<RepeatedHolder*>(*to);
        if (sourceHolder == nullptr || sourceHolder->count == 0)
            return true;
        if (holder == nullptr || sourceHolder->items == nullptr)
            return false;
        holder->items = static_cast<void**>(std::calloc(sourceHolder->count, sizeof(void*)));
        if (holder->items == nullptr)
            return false;
        holder->count = sourceHolder->count;
        for (std::uint32_t i = 0; i < holder->count; ++i) {
            const void* element = sourceHolder->items[i];
            if (element == nullptr)
                return false;
            const bool ok =
                (flags & kFlagMessage)
                    ? copy(*type.children[slot], reinterpret_cast<MessageInfo**>(&holder->items[i]),
                           static_cast<const MessageInfo*>(element))
                    : copyValue(flags, element, &holder->items[i]);
            if (!ok)
                return false;
        }
        return true;
    }
    if (from == nullptr)
        return true;
    if (flags & kFlagMessage) {
        return copy(*type.children[slot], reinterpret_cast<MessageInfo**>(to),
                    static_cast<const MessageInfo*>(from));
    }
    return copyValue(flags, from, to);
}

MessageInfo* newMessage(const MessageType& type) {
    auto* info = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (info != nullptr && !init(type, info)) {
        std::free(info);
        return nullptr;
    }
    return info;
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

const MessageType* typeOfDescriptor(const pb_msgdesc_t* descriptor) {
    for (const MessageType* type : kAllMessageTypes) {
        if (type->descriptor == descriptor)
            return type;
    }
    return nullptr;
}

bool init(const MessageType& type, MessageInfo* info) {
    if (info == nullptr)
        return false;
    info->name = type.name;
    info->type_flags = type.typeFlags;
    info->fields = static_cast<void**>(std::calloc(type.slotCount, sizeof(void*)));
    if (info->fields == nullptr)
        return false;
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (!(type.typeFlags[slot] & kFlagRepeated))
            continue;
        info->fields[slot] = std::calloc(1, sizeof(RepeatedHolder));
        if (info->fields[slot] == nullptr)
            return false;
    }
    return true;
}

bool allocArrays(const MessageType& type, MessageInfo* info) {
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (!(type.typeFlags[slot] & kFlagRepeated))
            continue;
        auto* holder = static_cast<RepeatedHolder*>(info->fields[slot]);
        if (holder == nullptr) {
            MessageLog::codec("<ERROR> Cannot allocate %s arrays. Missing params field (%s)",
                              {type.name, type.fieldNames[slot]});
            return false;
        }
        if (holder->count > 0) {
            std::free(holder->items);
            holder->items = static_cast<void**>(std::calloc(holder->count, sizeof(void*)));
            if (holder->items == nullptr)
                return false;
        }
        holder->filled = 0;
    }
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const std::uint32_t flags = type.typeFlags[slot];
        if ((flags & kFlagRepeated) || !(flags & kFlagMessage))
            continue;
        const MessageType& child = *type.children[slot];
        if (child.twoPass && info->fields[slot] != nullptr) {
            if (!allocArrays(child, static_cast<MessageInfo*>(info->fields[slot])))
                return false;
        }
    }
    return true;
}

bool deallocField(const MessageType& type, MessageInfo* info, std::uint32_t slot) {
    if (slot >= type.slotCount) {
        MessageLog::codec("<ERROR> %s: Cannot deallocate field %d: Unknown field",
                          {type.name, slot});
        return false;
    }
    void*& value = info->fields[slot];
    const std::uint32_t flags = type.typeFlags[slot];
    if (flags & kFlagRepeated) {
        auto* holder = static_cast<RepeatedHolder*>(value);
        if (holder == nullptr)
            return true;
        for (std::uint32_t i = 0; holder->items != nullptr && i < holder->count; ++i) {
            releaseElement(type, slot, holder->items[i]);
        }
        return nano_array_init(holder);
    }
    releaseElement(type, slot, value);
    value = nullptr;
    return true;
}

bool free(const MessageType& type, MessageInfo* info) {
    if (info == nullptr)
        return false;
    bool ok = true;
    if (info->fields != nullptr) {
        for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
            ok = deallocField(type, info, slot) && ok;
            if (type.typeFlags[slot] & kFlagRepeated)
                std::free(info->fields[slot]);
        }
        std::free(info->fields);
    }
    std::free(info);
    return ok;
}

bool copy(const MessageType& type, MessageInfo** destination, const MessageInfo* source) {
    if (destination == nullptr || source == nullptr || source->fields == nullptr)
        return false;
    if (*destination != nullptr)
        free(type, *destination);
    *destination = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (*destination == nullptr || !init(type, *destination))
        return false;
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        if (!copySlot(type, slot, source, *destination))
            return false;
    }
    return true;
}

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
    if (depth >= kMaxDecodeDepth)
        PB_RETURN_ERROR(stream, "nesting too deep");
    if (holder->filled >= holder->count)
        PB_RETURN_ERROR(stream, "too many elements");
    if (!decodeElement(*type, stream, &holder->items[holder->filled], depth + 1))
        return false;
    ++holder->filled;
    return true;
}

bool setEncoders(const MessageType& type, const MessageInfo* info, void* work) {
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
        void* value = info->fields[slot];
        if (flags & kFlagRepeated) {
            const auto* holder = static_cast<const RepeatedHolder*>(value);
            if (holder == nullptr) {
                MessageLog::codec("<ERROR> %s Encoder: '%s' should have been allocated",
                                  {type.name, type.fieldNames[slot]});
                return false;
            }
            if (holder->count == 0)
                continue;
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.encode = (flags & kFlagMessage) ? &encodeRepeated
                                     : (flags & (kFlagString | kFlagBytes))
                                         ? &nano_encode_repeated_string
                                         : &nano_encode_repeated_varint;
            callback->arg = value;
        } else if (value == nullptr) {
            continue;
        } else if (flags & (kFlagString | kFlagBytes)) {
            auto* callback = static_cast<pb_callback_t*>(field.pData);
            callback->funcs.encode = &nano_encode_string;
            callback->arg = value;
        } else if (flags & kFlagMessage) {
            *static_cast<bool*>(field.pSize) = true;
            if (!setEncoders(*type.children[slot], static_cast<const MessageInfo*>(value),
                             field.pData)) {
                return false;
            }
        } else {
            loadScalar(flags, value, field);
        }
    } while (pb_field_iter_next(&field));
    return true;
}

bool encodeRepeated(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const MessageType* type = typeOfDescriptor(field->submsg_desc);
    const auto* holder = arg != nullptr ? static_cast<const RepeatedHolder*>(*arg) : nullptr;
    if (type == nullptr || holder == nullptr)
        return false;
    if (holder->count == 0)
        return true;
    if (holder->items == nullptr)
        return false;
    WorkingStruct work(type->structSize);
    for (std::uint32_t i = 0; i < holder->count; ++i) {
        work.clear();
        if (!setEncoders(*type, static_cast<const MessageInfo*>(holder->items[i]), work.get()) ||
            !pb_encode_tag_for_field(stream, field) ||
            !pb_encode_submessage(stream, type->descriptor, work.get())) {
            return false;
        }
    }
    return true;
}

std::uint32_t encode(const MessageType& type, const MessageInfo* info, std::uint8_t** out) {
    if (out == nullptr)
        return kEncodeFailed;
    *out = nullptr;
    WorkingStruct work(type.structSize);
    if (!setEncoders(type, info, work.get()))
        return kEncodeFailed;
    return nano_encode_to_buffer(type.descriptor, work.get(), out);
}

bool encodeToBytes(const MessageType& type, const MessageInfo* info,
                   std::vector<std::uint8_t>& out) {
    out.clear();
    WorkingStruct work(type.structSize);
    if (!setEncoders(type, info, work.get()))
        return false;
    pb_ostream_t sizing = PB_OSTREAM_SIZING;
    if (!pb_encode(&sizing, type.descriptor, work.get()))
        return false;
    out.resize(sizing.bytes_written);
    pb_ostream_t stream = pb_ostream_from_buffer(out.data(), out.size());
    if (!pb_encode(&stream, type.descriptor, work.get()) || stream.bytes_written != out.size()) {
        out.clear();
        return false;
    }
    return true;
}

}  // namespace apmpb::MessageCodec
