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

// Memory a decode may spend on what the input does not carry byte for byte (records, element
// arrays, holders): a fixed multiple of the input plus a constant, so that many tiny elements
// cannot make a small input expand without bound. String bytes and single scalar cells are not
// counted: each stands for input bytes of its own.
struct DecodeBudget {
    std::size_t remaining;

    bool charge(std::size_t bytes) {
        if (bytes > remaining)
            return false;
        remaining -= bytes;
        return true;
    }
};

inline constexpr std::size_t kBudgetPerInputByte = 32;
inline constexpr std::size_t kBudgetConstant = std::size_t{1} << 20;

// What the heap takes for an allocation of `n` bytes: a header word, rounded to 16, at least 32.
constexpr std::size_t heapCost(std::size_t n) {
    const std::size_t rounded = (n + 8 + 15) / 16 * 16;
    return rounded < 32 ? 32 : rounded;
}

// The heap cost of a record of `type` as setDecoders leaves it: the record, its field array,
// a holder per repeated slot and the singular children made for decoding.
std::size_t recordCost(const MessageType& type) {
    std::size_t cost = heapCost(sizeof(MessageInfo)) + heapCost(type.slotCount * sizeof(void*));
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const std::uint32_t flags = type.typeFlags[slot];
        if (flags & kFlagRepeated)
            cost += heapCost(sizeof(RepeatedHolder));
        else if (flags & kFlagMessage)
            cost += recordCost(*type.children[slot]);
    }
    return cost;
}

// The heap cost of the element arrays that allocArrays makes for the counts of the first pass,
// with the cells or holders of scalar and string elements (message elements are charged when
// they are made).
std::size_t arraysCost(const MessageType& type, const MessageInfo* info) {
    std::size_t cost = 0;
    for (std::uint32_t slot = 0; slot < type.slotCount; ++slot) {
        const std::uint32_t flags = type.typeFlags[slot];
        const void* value = info->fields[slot];
        if (value == nullptr)
            continue;
        if (flags & kFlagRepeated) {
            const std::size_t count = static_cast<const RepeatedHolder*>(value)->count;
            if (count == 0)
                continue;
            std::size_t each = sizeof(void*);
            if (!(flags & kFlagMessage))
                each += (flags & (kFlagString | kFlagBytes)) ? 2 * heapCost(sizeof(StringHolder))
                                                             : heapCost(sizeof(std::uint64_t));
            cost += heapCost(0) + count * each;
        } else if (flags & kFlagMessage) {
            cost += arraysCost(*type.children[slot], static_cast<const MessageInfo*>(value));
        }
    }
    return cost;
}

// Input of one decode: the read position, how deep this message sits and the budget of the
// whole decode. Substreams that nanopb makes for fields share it, so a callback learns the
// depth of its message and reads its element in place.
struct InputCursor {
    const pb_byte_t* position;
    std::uint32_t depth;
    DecodeBudget* budget;
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

// Passes over what is left of a substream over our own input without reading it.
void skipRest(pb_istream_t* stream) {
    static_cast<InputCursor*>(stream->state)->position += stream->bytes_left;
    stream->bytes_left = 0;
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

// Reads one varint of at most ten bytes from [*p, end).
bool readVarint(const pb_byte_t*& p, const pb_byte_t* end, std::uint64_t& value) {
    value = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
        if (p == end)
            return false;
        const pb_byte_t byte = *p++;
        if (shift < 64)
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0)
            return true;
    }
    return false;
}

// The wire type a field of the schema arrives in. Repeated scalars also come packed.
bool wireTypeFits(const pb_field_iter_t& field, pb_wire_type_t wireType) {
    const pb_type_t ltype = PB_LTYPE(field.type);
    pb_wire_type_t expected = PB_WT_STRING;
    switch (ltype) {
        case PB_LTYPE_BOOL:
        case PB_LTYPE_VARINT:
        case PB_LTYPE_UVARINT:
        case PB_LTYPE_SVARINT:
            expected = PB_WT_VARINT;
            break;
        case PB_LTYPE_FIXED32:
            expected = PB_WT_32BIT;
            break;
        case PB_LTYPE_FIXED64:
            expected = PB_WT_64BIT;
            break;
        default:
            break;
    }
    if (wireType == expected)
        return true;
    return wireType == PB_WT_STRING && PB_HTYPE(field.type) == PB_HTYPE_REPEATED &&
           ltype <= PB_LTYPE_LAST_PACKABLE;
}

// Decodes the fields in [begin, begin + length) into the working struct `work` of `descriptor`,
// which the caller has set to its defaults. Fields the message does not declare, and declared
// fields that arrive in another wire type than their own, are skipped as unknown, as any
// decoder of the schema does. Each field is handed to nanopb alone, over the input in place;
// singular submessages are walked here too, so the same rule holds inside them.
bool decodeFields(const pb_byte_t* begin, std::size_t length, InputCursor& cursor,
                  const pb_msgdesc_t* descriptor, void* work, const char** error) {
    pb_field_iter_t field;
    const bool hasFields = pb_field_iter_begin(&field, descriptor, work);
    const pb_byte_t* p = begin;
    const pb_byte_t* const end = begin + length;
    while (p < end) {
        const pb_byte_t* const fieldStart = p;
        std::uint64_t key = 0;
        if (!readVarint(p, end, key) || key > UINT32_MAX) {
            *error = "invalid tag";
            return false;
        }
        const auto tag = static_cast<std::uint32_t>(key >> 3);
        const auto wireType = static_cast<pb_wire_type_t>(key & 7);
        if (tag == 0) {
            *error = "zero tag";
            return false;
        }
        const pb_byte_t* valueStart = p;
        std::uint64_t size = 0;
        switch (wireType) {
            case PB_WT_VARINT:
                if (!readVarint(p, end, size)) {
                    *error = "io error";
                    return false;
                }
                break;
            case PB_WT_64BIT:
            case PB_WT_32BIT: {
                const std::size_t width = wireType == PB_WT_64BIT ? 8 : 4;
                if (static_cast<std::size_t>(end - p) < width) {
                    *error = "io error";
                    return false;
                }
                p += width;
                break;
            }
            case PB_WT_STRING:
                if (!readVarint(p, end, size) || size > static_cast<std::uint64_t>(end - p)) {
                    *error = "parent stream too short";
                    return false;
                }
                valueStart = p;
                p += size;
                break;
            default:
                *error = "invalid wire_type";
                return false;
        }
        if (!hasFields || !pb_field_iter_find(&field, tag) || !wireTypeFits(field, wireType))
            continue;
        if (PB_ATYPE(field.type) == PB_ATYPE_STATIC && PB_LTYPE_IS_SUBMSG(field.type)) {
            if (field.pSize != nullptr)
                *static_cast<bool*>(field.pSize) = true;
            if (!decodeFields(valueStart, static_cast<std::size_t>(size), cursor, field.submsg_desc,
                              field.pData, error))
                return false;
            continue;
        }
        cursor.position = fieldStart;
        pb_istream_t one = inputStream(&cursor, static_cast<std::size_t>(p - fieldStart));
        if (!pb_decode_ex(&one, descriptor, work, PB_DECODE_NOINIT)) {
            *error = PB_GET_ERROR(&one);
            return false;
        }
    }
    return true;
}

bool decodeAt(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
              MessageInfo* info, std::uint32_t depth, DecodeBudget& budget);

bool runDecode(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
               std::uint32_t depth, DecodeBudget& budget, void* work) {
    InputCursor cursor{bytes, depth, &budget};
    // An empty stream sets the working struct to its defaults (presence flags and values
    // cleared, callbacks kept); the fields are then read one by one.
    pb_istream_t empty = inputStream(&cursor, 0);
    const char* error = nullptr;
    if (!pb_decode_ex(&empty, type.descriptor, work, 0))
        error = PB_GET_ERROR(&empty);
    else if (decodeFields(bytes, length, cursor, type.descriptor, work, &error))
        return true;
    MessageLog::codec("<ERROR> %s decoder failed: %s",
                      {type.name, error != nullptr ? error : "(none)"});
    return false;
}

bool decodeAt(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
              MessageInfo* info, std::uint32_t depth, DecodeBudget& budget) {
    if (info == nullptr) {
        MessageLog::codec("<ERROR> %s decoder failed: message_info is NULL", {type.name});
        return false;
    }
    WorkingStruct work(type.structSize);
    if (!setDecoders(type, info, work.get())) {
        MessageLog::codec("<ERROR> %s decoder failed: Unable to set decoders", {type.name});
        return false;
    }
    if (!runDecode(type, bytes, length, depth, budget, work.get()))
        return false;
    if (type.twoPass) {
        if (!budget.charge(arraysCost(type, info))) {
            MessageLog::codec("<ERROR> %s decoder failed: %s",
                              {type.name, "decoded message too large"});
            return false;
        }
        if (!allocArrays(type, info)) {
            MessageLog::codec("<ERROR> %s decoder failed: Unable to allocate arrays", {type.name});
            return false;
        }
        if (!runDecode(type, bytes, length, depth, budget, work.get()))
            return false;
    }
    postDecodeCopy(type, work.get(), info);
    return true;
}

// Decodes one element of a repeated message field (second pass) into its position, straight
// from the parent's input: the substream's bytes are where the cursor points.
bool decodeElement(const MessageType& type, pb_istream_t* stream, void** position,
                   std::uint32_t depth) {
    auto* cursor = static_cast<InputCursor*>(stream->state);
    const std::size_t n = stream->bytes_left;
    const pb_byte_t* const bytes = cursor->position;
    skipRest(stream);
    if (!cursor->budget->charge(recordCost(type) + sizeof(void*)))
        PB_RETURN_ERROR(stream, "decoded message too large");
    auto* element = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (element == nullptr)
        return false;
    *position = element;
    if (!init(type, element)) {
        MessageLog::codec("<ERROR> %s decoder failed: Unable to initialize MessageInfo",
                          {type.name});
        return false;
    }
    if (!decodeAt(type, bytes, n, element, depth, *cursor->budget)) {
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
    const std::size_t perByte =
        length > SIZE_MAX / kBudgetPerInputByte ? SIZE_MAX : length * kBudgetPerInputByte;
    DecodeBudget budget{perByte > SIZE_MAX - kBudgetConstant ? SIZE_MAX
                                                             : perByte + kBudgetConstant};
    if (!budget.charge(recordCost(type))) {
        MessageLog::codec("<ERROR> %s decoder failed: %s",
                          {type.name, "decoded message too large"});
        return false;
    }
    return decodeAt(type, bytes, length, info, 1, budget);
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
        skipRest(stream);
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
