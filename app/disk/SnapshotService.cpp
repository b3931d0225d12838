#include "app/disk/SnapshotService.h"

#include <utility>

#include "platform/process/ProcessRunner.h"

namespace cb {
namespace {

constexpr std::string_view kSnapshotPrefix = "com.apple.TimeMachine.";

// The length of the horizontal space character (space, tab, or a Unicode space separator in
// UTF-8) at the start of `text`, or 0.
size_t leadingSpaceLength(std::string_view text) {
    if (text.empty())
        return 0;
    if (text[0] == ' ' || text[0] == '\t')
        return 1;
    static constexpr std::string_view kSpaces[] = {
        "\xC2\xA0",      // no-break space
        "\xE1\x9A\x80",  // ogham space mark
        "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84",
        "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89",
        "\xE2\x80\x8A",  // en quad .. hair space
        "\xE2\x80\xAF",  // narrow no-break space
        "\xE2\x81\x9F",  // medium mathematical space
        "\xE3\x80\x80",  // ideographic space
    };
    for (std::string_view space : kSpaces) {
        if (text.substr(0, space.size()) == space)
            return space.size();
    }
    return 0;
}

size_t trailingSpaceLength(std::string_view text) {
    if (text.empty())
        return 0;
    if (text.back() == ' ' || text.back() == '\t')
        return 1;
    for (size_t length : {2, 3}) {
        if (text.size() >= length &&
            leadingSpaceLength(text.substr(text.size() - length)) == length) {
            return length;
        }
    }
    return 0;
}

std::string_view trimHorizontalSpace(std::string_view text) {
    while (size_t n = leadingSpaceLength(text))
        text.remove_prefix(n);
    while (size_t n = trailingSpaceLength(text))
        text.remove_suffix(n);
    return text;
}

}  // namespace

std::string SnapshotService::run(const std::string& executable,
                                 const std::vector<std::string>& arguments) {
    platform::ProcessResult result = platform::ProcessRunner::shared().run(
        executable, arguments, platform::OutputStreams::combined);
    if (!result.launched)
        return {};
    return platform::utf8OrEmpty(std::move(result.output));
}

std::vector<SnapshotService::Snapshot> SnapshotService::listLocalSnapshots(
    const std::string& mountPoint, const std::string& tool) {
    return parseSnapshotList(run(tool, {"listlocalsnapshots", mountPoint}));
}

std::vector<SnapshotService::Snapshot> SnapshotService::parseSnapshotList(std::string_view output) {
    std::vector<Snapshot> snapshots;
    while (!output.empty()) {
        const size_t end = output.find('\n');
        const std::string_view line = trimHorizontalSpace(output.substr(0, end));
        output.remove_prefix(end == std::string_view::npos ? output.size() : end + 1);
        if (line.substr(0, kSnapshotPrefix.size()) == kSnapshotPrefix) {
            snapshots.push_back(Snapshot{std::string(line)});
        }
    }
    return snapshots;
}

std::string SnapshotService::thinLocalSnapshots(int64_t amount, const std::string& mountPoint,
                                                int urgency, const std::string& tool) {
    return run(tool,
               {"thinlocalsnapshots", mountPoint, std::to_string(amount), std::to_string(urgency)});
}

}  // namespace cb
