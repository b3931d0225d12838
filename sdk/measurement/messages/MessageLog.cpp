#include "sdk/measurement/messages/MessageLog.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace apmpb {
namespace {

struct Sinks {
    std::mutex mutex;
    MessageLog::Sink codec;     // guarded by mutex; empty: standard output
    MessageLog::Sink accessor;  // guarded by mutex; empty: standard error
};

Sinks& sinks() {
    static Sinks& instance = *new Sinks();  // lives for the process
    return instance;
}

void emit(MessageLog::Sink Sinks::*member, std::FILE* fallback, const std::string& text) {
    Sinks& s = sinks();
    std::lock_guard lock(s.mutex);
    if (s.*member) {
        (s.*member)(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), fallback);
    std::fflush(fallback);
}

MessageLog::Sink exchange(MessageLog::Sink Sinks::*member, MessageLog::Sink sink) {
    Sinks& s = sinks();
    std::lock_guard lock(s.mutex);
    return std::exchange(s.*member, std::move(sink));
}

}  // namespace

void MessageLog::codec(std::string_view format, std::initializer_list<sdk::FormatArg> args,
                       bool lineFeed) {
    std::string text = sdk::formatString(format, args);
    if (lineFeed)
        text += '\n';
    emit(&Sinks::codec, stdout, text);
}

void MessageLog::accessor(std::string_view format, std::initializer_list<sdk::FormatArg> args) {
    emit(&Sinks::accessor, stderr, sdk::formatString(format, args) + '\n');
}

MessageLog::Sink MessageLog::setCodecSink(Sink sink) {
    return exchange(&Sinks::codec, std::move(sink));
}

MessageLog::Sink MessageLog::setAccessorSink(Sink sink) {
    return exchange(&Sinks::accessor, std::move(sink));
}

}  // namespace apmpb
