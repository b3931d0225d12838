#pragma once

#include <cstdint>

namespace apmpb {

// The in-memory form of one message. These records are plain C data shared with nanopb's
// callbacks: each slot of `fields` owns what it points to, and the message type's codec
// (MessageCodec) is the only code that allocates or releases them. Outside this folder a
// message is reached through a wrapper (NANOMessageBase), which owns its record.
//
// What a slot holds, by its type flags:
// - singular scalar: nullptr when absent, else a heap value cell (8 bytes; a float's 4),
//   bool and 32-bit values widened to 64 bits;
// - string or bytes: nullptr when absent, else a StringHolder;
// - singular message: nullptr when absent, else the child's own MessageInfo;
// - repeated: always a RepeatedHolder, made by init and kept for the record's life.

// Bytes of a string or bytes field. `bytes` is not a C string: `length` counts every byte.
// Every writer allocates one zero byte more than `length`, so an empty value has non-null
// `bytes`; a holder whose `bytes` is null is present but cannot be encoded.
struct StringHolder {
    std::uint32_t length;
    std::uint8_t* bytes;
};

// Elements of a repeated field: `count` pointers in `items` (value cells, string holders or
// child records). `filled` is only the write cursor of the second decode pass.
struct RepeatedHolder {
    std::uint32_t filled;
    std::uint32_t count;
    void** items;
};

struct MessageInfo {
    void** fields;                    // one per slot
    const std::uint32_t* type_flags;  // the type's static flag table, never freed
    const char* name;                 // the type's static name
};

}  // namespace apmpb
