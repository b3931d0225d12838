// wire_message_fuzz: the first byte picks one of the wire message types, the rest is decoded as
// that type. A message that decodes must encode; its copy must encode to the same bytes; and
// those bytes, decoded again, must encode to themselves. Nothing may crash, leak, hang, trip a
// sanitizer or take memory out of proportion to the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

using messages_test::AnyMessage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The codec's diagnostics would only slow the fuzzer down.
    apmpb::MessageLog::setCodecSink([](std::string_view) {});
    apmpb::MessageLog::setAccessorSink([](std::string_view) {});
    if (size == 0)
        return 0;
    const apmpb::MessageType& type = *apmpb::kAllMessageTypes[data[0] % apmpb::kMessageTypeCount];
    const AnyMessage message(type, sdk::Bytes(data + 1, data + size));
    if (!message.decoded())
        return 0;
    const auto encoded = message.protoBuffer();
    if (!encoded)
        std::abort();  // a decoded message always encodes
    const AnyMessage copy(type, message.messageInfo());
    if (copy.protoBuffer() != encoded)
        std::abort();
    // The encoding may be refused on decoding when it is much smaller than an input that was
    // mostly unknown fields (the memory bound is relative to the input); if it decodes, it
    // must come out unchanged.
    const AnyMessage again(type, *encoded);
    if (again.decoded() && again.protoBuffer() != encoded)
        std::abort();
    return 0;
}
