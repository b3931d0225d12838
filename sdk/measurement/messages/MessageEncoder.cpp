// Encoding: the encode callbacks and the sized two-step write.
#include "sdk/measurement/messages/MessageCodec.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "sdk/measurement/messages/CodecSupport.h"
#include "sdk/measurement/messages/MessageLog.h"
#include "sdk/measurement/messages/MessageTables.h"
#include "sdk/measurement/messages/NanoRoutines.h"

namespace apmpb::MessageCodec {

using detail::slotOf;
using detail::WorkingStruct;

namespace {

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

}  // namespace

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
