#pragma once

#include <cstddef>
#include <cstdint>

#include <pb.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include "sdk/measurement/messages/MessageInfo.h"

namespace apmpb {

// The longest string or bytes value a decode accepts.
inline constexpr std::size_t kMaxDecodedStringLength = 1048576;
// What nano_encode_to_buffer and the codec's encode answer on failure.
inline constexpr std::uint32_t kEncodeFailed = 0xFFFFFFFF;

// Shared routines of the codec and the accessors. Each prints its own "<ERROR> ..." line
// (MessageLog::codec) and answers false on failure; none of them locks.

// Frees `items` and zeroes the holder; the elements themselves are not released.
bool nano_array_init(RepeatedHolder* array);
// Frees the holder's bytes and zeroes it; the holder itself stays.
bool nano_string_free(StringHolder* string);

// Value-cell setters: `cell` is the address of a slot or of an element position. A null cell
// is allocated on first store and reused afterwards.
bool nano_set_bool(void** cell, bool value);
bool nano_set_uint32(void** cell, std::uint32_t value);
bool nano_set_uint64(void** cell, std::uint64_t value);
bool nano_set_float(void** cell, float value);
bool nano_set_double(void** cell, double value);
// Copies `length` bytes (bytes may be null only when length is 0) into the slot's string
// holder, creating it when the slot is null and releasing its old bytes.
bool nano_set_string(void** slot, const void* bytes, std::size_t length);

// nanopb decode callbacks. `*arg` is the address of a string slot (nano_decode_string) or a
// RepeatedHolder (the repeated ones). Strings keep their first occurrence.
bool nano_decode_string(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool nano_decode_repeated_string(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool nano_decode_repeated_varint(pb_istream_t* stream, const pb_field_t* field, void** arg);

// nanopb encode callbacks. `*arg` is a StringHolder or a RepeatedHolder. Repeated scalars are
// written one tag per element, never packed.
bool nano_encode_string(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
bool nano_encode_repeated_string(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
bool nano_encode_repeated_varint(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

// Encodes the filled working struct `src` into a new exactly sized buffer (malloc, at least
// one byte so that it is never null) stored in `*out`, which the caller frees. Returns the
// byte count, or kEncodeFailed with `*out` null.
std::uint32_t nano_encode_to_buffer(const pb_msgdesc_t* fields, const void* src,
                                    std::uint8_t** out);

}  // namespace apmpb
