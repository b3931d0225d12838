#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "sdk/utilities/FormatString.h"

namespace apmpb {

// Where the message layer's diagnostics go. The codec and its shared routines print their
// "<ERROR> ..." lines to standard output; the field accessors write their texts to standard
// error, one line each, as the system log would show them. Tests swap either sink.
//
// Thread-safe: the sinks are guarded by one lock and each text is handed over whole.
class MessageLog {
  public:
    // Receives one text exactly as it is printed (codec texts carry their own line feed).
    using Sink = std::function<void(std::string_view)>;

    // Prints `format` filled with `args` to the codec's sink, followed by a line feed unless
    // `lineFeed` is false.
    static void codec(std::string_view format, std::initializer_list<sdk::FormatArg> args = {},
                      bool lineFeed = true);
    // Writes `format` filled with `args` to the accessors' sink as one line.
    static void accessor(std::string_view format, std::initializer_list<sdk::FormatArg> args = {});

    // Replace a sink; an empty function restores the default. Returns the sink that was set.
    static Sink setCodecSink(Sink sink);
    static Sink setAccessorSink(Sink sink);
};

}  // namespace apmpb
