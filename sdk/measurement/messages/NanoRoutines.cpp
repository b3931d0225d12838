#include "sdk/measurement/messages/NanoRoutines.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include "sdk/measurement/messages/MessageLog.h"

namespace apmpb {
namespace {

template <class T>
bool setCell(void** cell, T value, const char* failure) {
    if (cell == nullptr) {
        MessageLog::codec(failure);
        return false;
    }
    if (*cell == nullptr) {
        // Every cell but a float's is 8 bytes, so a narrower value reads back zero-extended.
        *cell = std::calloc(1, sizeof(T) < 8 && !std::is_floating_point_v<T> ? 8 : sizeof(T));
        if (*cell == nullptr)
            return false;
    }
    if constexpr (std::is_floating_point_v<T>) {
        std::memcpy(*cell, &value, sizeof(T));
    } else {
        const std::uint64_t wide = value;
        std::memcpy(*cell, &wide, sizeof(wide));
    }
    return true;
}

// Decodes the rest of `stream` as a new string into the empty position `slot`.
bool decodeStringInto(pb_istream_t* stream, void** slot) {
    auto* holder = static_cast<StringHolder*>(std::calloc(1, sizeof(StringHolder)));
    if (holder == nullptr)
        return false;
    *slot = holder;
    const std::size_t n = stream->bytes_left;
    if (n > kMaxDecodedStringLength) {
        MessageLog::codec("Unable to process proto stream. Buffer is too big. %zu > %d",
                          {n, static_cast<int>(kMaxDecodedStringLength)}, false);
        return false;
    }
    holder->bytes = static_cast<std::uint8_t*>(std::calloc(n + 1, 1));
    if (holder->bytes == nullptr)
        return false;
    holder->length = static_cast<std::uint32_t>(n);
    if (!pb_read(stream, holder->bytes, n)) {
        std::free(holder->bytes);
        holder->bytes = nullptr;
        holder->length = 0;
        return false;
    }
    return true;
}

// The element position of the second decode pass, or nullptr when the input holds more
// elements than the first pass counted.
void** nextElement(RepeatedHolder* holder) {
    if (holder->filled >= holder->count)
        return nullptr;
    return &holder->items[holder->filled++];
}

}  // namespace

bool nano_array_init(RepeatedHolder* array) {
    if (array == nullptr) {
        MessageLog::codec("<ERROR> Unable to initialize the array. Array pointer is NULL");
        return false;
    }
    std::free(array->items);
    *array = RepeatedHolder{};
    return true;
}

bool nano_string_free(StringHolder* string) {
    if (string == nullptr) {
        MessageLog::codec("<ERROR> Unable to dealloc string field. String struct is NULL");
        return false;
    }
    std::free(string->bytes);
    *string = StringHolder{};
    return true;
}

bool nano_set_bool(void** cell, bool value) {
    return setCell<std::uint8_t>(cell, value ? 1 : 0,
                                 "<ERROR> Unable to set bool. Destination pointer is NULL");
}

bool nano_set_uint32(void** cell, std::uint32_t value) {
    return setCell(cell, value, "<ERROR> Unable to set uint32. Destination pointer is NULL");
}

bool nano_set_uint64(void** cell, std::uint64_t value) {
    return setCell(cell, value, "<ERROR> Unable to set uint64. Destination pointer is NULL");
}

bool nano_set_float(void** cell, float value) {
    return setCell(cell, value, "<ERROR> Unable to set float. Destination pointer is NULL");
}

bool nano_set_double(void** cell, double value) {
    return setCell(cell, value, "<ERROR> Unable to set double. Destination pointer is NULL");
}

bool nano_set_string(void** slot, const void* bytes, std::size_t length) {
    if (slot == nullptr) {
        MessageLog::codec("<ERROR> Unable to set string. Destination array is NULL");
        return false;
    }
    if (length > std::numeric_limits<std::uint32_t>::max() - 1)
        return false;
    if (*slot == nullptr) {
        *slot = std::calloc(1, sizeof(StringHolder));
        if (*slot == nullptr)
            return false;
    }
    auto* holder = static_cast<StringHolder*>(*slot);
    nano_string_free(holder);
    holder->bytes = static_cast<std::uint8_t*>(std::calloc(length + 1, 1));
    if (holder->bytes == nullptr)
        return false;
    if (length > 0)
        std::memcpy(holder->bytes, bytes, length);
    holder->length = static_cast<std::uint32_t>(length);
    return true;
}

bool nano_decode_string(pb_istream_t* stream, const pb_field_t*, void** arg) {
    if (arg == nullptr || *arg == nullptr)
        return false;
    auto** slot = static_cast<void**>(*arg);
    if (*slot != nullptr) {
        if (static_cast<StringHolder*>(*slot)->bytes == nullptr) {
            MessageLog::codec("<ERROR> String decoder failed: string data is NULL");
            return false;
        }
        return pb_read(stream, nullptr, stream->bytes_left);
    }
    return decodeStringInto(stream, slot);
}

bool nano_decode_repeated_string(pb_istream_t* stream, const pb_field_t*, void** arg) {
    auto* holder = arg != nullptr ? static_cast<RepeatedHolder*>(*arg) : nullptr;
    if (holder == nullptr)
        return false;
    if (holder->items == nullptr) {
        if (!pb_read(stream, nullptr, stream->bytes_left))
            return false;
        if (holder->count == std::numeric_limits<std::uint32_t>::max())
            return false;
        ++holder->count;
        return true;
    }
    void** position = nextElement(holder);
    return position != nullptr && decodeStringInto(stream, position);
}

bool nano_decode_repeated_varint(pb_istream_t* stream, const pb_field_t*, void** arg) {
    auto* holder = arg != nullptr ? static_cast<RepeatedHolder*>(*arg) : nullptr;
    if (holder == nullptr)
        return false;
    std::uint64_t value = 0;
    if (!pb_decode_varint(stream, &value))
        return false;
    if (holder->items == nullptr) {
        if (holder->count == std::numeric_limits<std::uint32_t>::max())
            return false;
        ++holder->count;
        return true;
    }
    void** position = nextElement(holder);
    return position != nullptr && nano_set_uint64(position, value);
}

bool nano_encode_string(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* holder = arg != nullptr ? static_cast<const StringHolder*>(*arg) : nullptr;
    if (holder == nullptr || holder->bytes == nullptr)
        return false;
    return pb_encode_tag_for_field(stream, field) &&
           pb_encode_string(stream, holder->bytes, holder->length);
}

bool nano_encode_repeated_string(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* holder = arg != nullptr ? static_cast<const RepeatedHolder*>(*arg) : nullptr;
    if (holder == nullptr)
        return false;
    if (holder->count == 0)
        return true;
    if (holder->items == nullptr)
        return false;
    for (std::uint32_t i = 0; i < holder->count; ++i) {
        if (!nano_encode_string(stream, field, &holder->items[i]))
            return false;
    }
    return true;
}

bool nano_encode_repeated_varint(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* holder = arg != nullptr ? static_cast<const RepeatedHolder*>(*arg) : nullptr;
    if (holder == nullptr)
        return false;
    if (holder->count == 0)
        return true;
    if (holder->items == nullptr)
        return false;
    for (std::uint32_t i = 0; i < holder->count; ++i) {
        if (holder->items[i] == nullptr)
            return false;
        std::uint64_t value = 0;
        std::memcpy(&value, holder->items[i], sizeof(value));
        if (!pb_encode_tag_for_field(stream, field) || !pb_encode_varint(stream, value)) {
            return false;
        }
    }
    return true;
}

std::uint32_t nano_encode_to_buffer(const pb_msgdesc_t* fields, const void* src,
                                    std::uint8_t** out) {
    if (out == nullptr)
        return kEncodeFailed;
    *out = nullptr;
    pb_ostream_t sizing = PB_OSTREAM_SIZING;
    (void)pb_encode(&sizing, fields, src);
    const std::size_t size = sizing.bytes_written;
    if (size >= kEncodeFailed)
        return kEncodeFailed;
    auto* buffer = static_cast<std::uint8_t*>(std::calloc(size + 1, 1));
    if (buffer == nullptr)
        return kEncodeFailed;
    pb_ostream_t stream = pb_ostream_from_buffer(buffer, size);
    if (!pb_encode(&stream, fields, src)) {
        std::free(buffer);
        return kEncodeFailed;
    }
    *out = buffer;
    return static_cast<std::uint32_t>(stream.bytes_written);
}

}  // namespace apmpb
