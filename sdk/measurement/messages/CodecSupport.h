#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include <pb_common.h>

#include "sdk/measurement/messages/MessageInfo.h"
#include "sdk/measurement/messages/MessageType.h"

// Pieces the codec's decoder, encoder and record operations share. Internal to this folder.
namespace apmpb::MessageCodec::detail {

inline constexpr std::uint32_t kScalarKinds = kFlagBool | kFlagEnum | kFlagInt32 | kFlagUInt32 |
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

// The slot of the field the iterator is on, or -1.
inline int slotOf(const MessageType& type, const pb_field_iter_t& field) {
    return type.slotOfTag(field.tag);
}

// A new record of `type` filled by init; nullptr when allocation fails.
MessageInfo* newMessage(const MessageType& type);

}  // namespace apmpb::MessageCodec::detail
