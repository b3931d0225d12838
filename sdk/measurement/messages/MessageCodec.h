#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <pb_common.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include "sdk/measurement/messages/MessageInfo.h"
#include "sdk/measurement/messages/MessageType.h"

namespace apmpb {

// Deepest nesting of messages a decode accepts (the outermost message counts as 1). Repeated
// message fields may recurse (EventParam, RuntimeEntity); deeper input fails with the stream
// error "nesting too deep" instead of exhausting the stack.
inline constexpr std::uint32_t kMaxDecodeDepth = 100;

// Program trees legitimately nest deeper (a chain of 200 binary operators is a tree 200
// statements deep): RuntimeEntity elements may nest as deep as the script runtime converts
// (1000 levels) below the messages that carry a program (configuration, program, activities,
// activity).
inline constexpr std::uint32_t kMaxProgramDecodeDepth = 1000 + 4;

// The codec of every wire message: one code path driven by the message's MessageType table and
// nanopb's descriptor, with the roles a generated per-message codec would have. Every
// operation works only on caller-owned data; a message is used by one thread at a time.
//
// Decoding of a message whose tree holds repeated fields runs nanopb twice over the input: the
// first pass counts the elements of every repeated field and stores strings, then each
// element array is allocated once at its exact size and the second pass fills it. A message
// without repeated fields in its tree is decoded in one pass. Elements of repeated message fields
// are decoded in place over the parent's input, so peak memory stays linear in the input at any
// depth; records, element arrays and holders together may cost at most 32 times the input plus
// 1 MiB, beyond which the decode fails with "decoded message too large". A field the message
// does not declare, or a declared one in another wire type than its own, is skipped.
namespace MessageCodec {

// Fills a zeroed record: name, flags, a field array of null slots and an empty holder for each
// repeated slot. False only for a null record or failed allocation.
bool init(const MessageType& type, MessageInfo* info);
// Allocates the element arrays the first decode pass counted, also in singular children.
// False when a repeated holder is missing.
bool allocArrays(const MessageType& type, MessageInfo* info);
// Releases slot `slot` (u32): a value, string or child is freed and the slot becomes null; a
// repeated field loses its elements and keeps its empty holder. False for a slot past the end.
bool deallocField(const MessageType& type, MessageInfo* info, std::uint32_t slot);
// Releases every slot and the record itself. False for a null record.
bool free(const MessageType& type, MessageInfo* info);
// Replaces `*destination` (freed first when set) by a deep copy of `source`. False on any
// failure, leaving a partial copy in `*destination` for the caller to free.
bool copy(const MessageType& type, MessageInfo** destination, const MessageInfo* source);
// Installs the decode callbacks of `info` into the zeroed working struct `work`; singular
// children are made fresh and their callbacks installed too.
bool setDecoders(const MessageType& type, MessageInfo* info, void* work);
// Copies present scalars from the working struct into `info`; drops singular children that the
// input did not carry.
void postDecodeCopy(const MessageType& type, const void* work, MessageInfo* info);
// Decodes `length` bytes into the initialised record `info`. False on any failure (printed),
// leaving `info` partly filled for the caller to free.
bool decode(const MessageType& type, const std::uint8_t* bytes, std::size_t length,
            MessageInfo* info);
// Points the zeroed working struct `work` at the values of `info`. False when a repeated holder
// is missing.
bool setEncoders(const MessageType& type, const MessageInfo* info, void* work);
// Encodes `info` into a new malloc'd buffer in `*out` (caller frees; never null on success,
// also for zero bytes). Returns the byte count, or kEncodeFailed with `*out` null.
std::uint32_t encode(const MessageType& type, const MessageInfo* info, std::uint8_t** out);
// The same encoding written straight into `out`, sized exactly. False on failure.
bool encodeToBytes(const MessageType& type, const MessageInfo* info,
                   std::vector<std::uint8_t>& out);

// nanopb callbacks of a repeated message field; `*arg` is its RepeatedHolder and the element
// type is the field's submessage type.
bool decodeRepeated(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool encodeRepeated(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

// The message type of a nanopb descriptor, or nullptr.
const MessageType* typeOfDescriptor(const pb_msgdesc_t* descriptor);

}  // namespace MessageCodec
}  // namespace apmpb
