#include "platform/preferences/PlistPreScan.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

namespace {

// libplist stops the process (an assertion) when asked for a string or key holding a NUL.
constexpr std::string_view kNulRefusal = "a string holding a NUL character";

std::string_view asText(std::span<const std::uint8_t> data) {
    return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

// Position after `terminator` at or after `from`; npos when absent.
std::size_t skipPast(std::string_view text, std::size_t from, std::string_view terminator) {
    const std::size_t at = text.find(terminator, from);
    return at == std::string_view::npos ? at : at + terminator.size();
}

// The position of the '>' ending the tag that starts at `from`, stepping over quoted attribute
// values (which may hold '>' or "/>"); npos when the tag does not end.
std::size_t tagEnd(std::string_view text, std::size_t from) {
    char quote = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i;
        }
    }
    return std::string_view::npos;
}

bool xmlNestsDeeperThan(std::string_view text, std::size_t maxDepth) {
    std::size_t depth = 0;
    std::size_t pos = text.find('<');
    while (pos != std::string_view::npos) {
        const std::string_view rest = text.substr(pos);
        std::size_t next;
        if (rest.starts_with("<!--")) {
            next = skipPast(text, pos + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            next = skipPast(text, pos + 9, "]]>");
        } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
            next = skipPast(text, pos + 2, ">");
        } else {
            const std::size_t end = tagEnd(text, pos + 1);
            if (end == std::string_view::npos) {
                break;
            }
            if (rest.starts_with("</")) {
                depth = depth > 0 ? depth - 1 : 0;
            } else if (text[end - 1] != '/' && ++depth > maxDepth) {
                return true;
            }
            next = end + 1;
        }
        if (next == std::string_view::npos) {
            break;
        }
        pos = text.find('<', next);
    }
    return false;
}

// Reads a big-endian unsigned integer of `size` bytes (1 to 8) at `offset`.
std::optional<std::uint64_t> readBigEndian(std::span<const std::uint8_t> data, std::uint64_t offset,
                                           std::size_t size) {
    if (size == 0 || size > 8 || offset > data.size() || data.size() - offset < size) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value = (value << 8) | data[offset + i];
    }
    return value;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

struct BinaryLayout {
    std::span<const std::uint8_t> data;
    std::size_t offsetSize = 0;
    std::size_t refSize = 0;
    std::uint64_t objectCount = 0;
    std::uint64_t topObject = 0;
    std::uint64_t offsetTable = 0;
};

std::optional<BinaryLayout> readTrailer(std::span<const std::uint8_t> data) {
    constexpr std::size_t kTrailerSize = 32;
    if (data.size() < 8 + kTrailerSize) {
        return std::nullopt;
    }
    const std::uint64_t t = data.size() - kTrailerSize;
    BinaryLayout layout{data,
                        data[t + 6],
                        data[t + 7],
                        *readBigEndian(data, t + 8, 8),
                        *readBigEndian(data, t + 16, 8),
                        *readBigEndian(data, t + 24, 8)};
    if (layout.offsetSize == 0 || layout.offsetSize > 8 || layout.refSize == 0 ||
        layout.refSize > 8 || layout.topObject >= layout.objectCount ||
        layout.objectCount > data.size() || layout.offsetTable > t ||
        (t - layout.offsetTable) / layout.offsetSize < layout.objectCount) {
        return std::nullopt;
    }
    return layout;
}

// One object of a binary plist as the walk sees it.
struct BinaryObject {
    bool readable = true;
    bool holdsNul = false;  // a string with a NUL character
    std::uint64_t ownCost = kPlistObjectCost;
    std::vector<std::uint64_t> children;  // references, for arrays, sets and dictionaries
};

// The count of the object whose marker is at `offset`: the marker's low nibble, or the integer
// object after it when the nibble is 0xF. Sets `*position` to the first byte after the count.
std::optional<std::uint64_t> readCount(const BinaryLayout& layout, std::uint64_t offset,
                                       std::uint64_t* position) {
    std::uint64_t count = layout.data[offset] & 0x0F;
    *position = offset + 1;
    if (count != 0x0F) {
        return count;
    }
    if (*position >= layout.data.size() || (layout.data[*position] >> 4) != 0x1) {
        return std::nullopt;
    }
    const std::size_t size = std::size_t{1} << (layout.data[*position] & 0x0F);
    const std::optional<std::uint64_t> value = readBigEndian(layout.data, *position + 1, size);
    *position += 1 + size;
    return value;
}

// Whether the string of `count` units of `unitSize` bytes at `position` holds a NUL unit (or
// runs past the data, which the parser refuses anyway).
bool stringHoldsNul(std::span<const std::uint8_t> data, std::uint64_t position, std::uint64_t count,
                    std::size_t unitSize) {
    if (position > data.size() || count > (data.size() - position) / unitSize) {
        return false;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = position + i * unitSize;
        if (data[at] == 0 && (unitSize == 1 || data[at + 1] == 0)) {
            return true;
        }
    }
    return false;
}

BinaryObject readObject(const BinaryLayout& layout, std::uint64_t object) {
    BinaryObject result;
    const std::optional<std::uint64_t> offset = readBigEndian(
        layout.data, layout.offsetTable + object * layout.offsetSize, layout.offsetSize);
    if (!offset || *offset >= layout.data.size()) {
        result.readable = false;
        return result;
    }
    const std::uint8_t kind = layout.data[*offset] >> 4;
    const bool container = kind == 0xA || kind == 0xC || kind == 0xD;
    if (!container && kind != 0x4 && kind != 0x5 && kind != 0x6) {
        return result;  // a fixed-size scalar
    }
    std::uint64_t position = 0;
    const std::optional<std::uint64_t> count = readCount(layout, *offset, &position);
    if (!count || *count > layout.data.size()) {
        result.readable = false;
        return result;
    }
    if (!container) {
        // UTF-16 text may take three bytes a unit once converted to UTF-8.
        result.ownCost += kind == 0x6 ? *count * 3 : *count;
        if (kind != 0x4) {
            result.holdsNul = stringHoldsNul(layout.data, position, *count, kind == 0x6 ? 2 : 1);
        }
        return result;
    }
    const std::uint64_t refs = kind == 0xD ? *count * 2 : *count;
    if (position > layout.data.size() || refs * layout.refSize > layout.data.size() - position) {
        result.readable = false;
        return result;
    }
    result.children.reserve(refs);
    for (std::uint64_t i = 0; i < refs; ++i) {
        result.children.push_back(
            *readBigEndian(layout.data, position + i * layout.refSize, layout.refSize));
    }
    return result;
}

// Depth-first walk over a binary plist's objects with an explicit stack. Each object is read
// once and remembers the height and the built cost of its subtree, so the walk is linear in
// the data while a shared object still counts at every depth it appears and its cost counts
// each time it is reached. An object met again while open is a cycle.
class BinaryWalk {
  public:
    BinaryWalk(const BinaryLayout& layout, std::size_t maxDepth)
        : layout_(layout),
          maxDepth_(maxDepth),
          costLimit_(plistCostLimit(layout.data.size())),
          marks_(layout.objectCount, Mark::kNew),
          heights_(layout.objectCount, 0),
          costs_(layout.objectCount, 0) {}

    // The reason the data is refused, or nullopt.
    std::optional<std::string> refusal() {
        if (std::optional<std::string> failed = open(layout_.topObject)) {
            return failed;
        }
        while (!stack_.empty()) {
            if (stack_.size() > maxDepth_) {
                return deeper();
            }
            Frame& frame = stack_.back();
            if (frame.next == frame.children.size()) {
                if (std::optional<std::string> failed = close()) {
                    return failed;
                }
                continue;
            }
            const std::uint64_t child = frame.children[frame.next++];
            if (child >= layout_.objectCount) {
                return "a reference outside the object table";
            }
            if (marks_[child] == Mark::kOpen) {
                return "containers that refer to each other in a cycle";
            }
            if (marks_[child] == Mark::kDone) {
                if (stack_.size() + heights_[child] > maxDepth_) {
                    return deeper();
                }
                frame.height = std::max(frame.height, heights_[child]);
                frame.cost = saturatingAdd(frame.cost, costs_[child]);
                continue;
            }
            if (std::optional<std::string> failed = open(child)) {  // `frame` is stale from here
                return failed;
            }
        }
        return std::nullopt;
    }

  private:
    enum class Mark : std::uint8_t { kNew, kOpen, kDone };
    struct Frame {
        std::uint64_t object;
        std::vector<std::uint64_t> children;
        std::size_t next = 0;
        std::size_t height = 0;  // tallest child subtree seen so far
        std::uint64_t cost = 0;  // own cost plus every child subtree reached so far
    };

    std::string deeper() const {
        return "nested deeper than " + std::to_string(maxDepth_) + " levels";
    }

    std::optional<std::string> open(std::uint64_t object) {
        BinaryObject read = readObject(layout_, object);
        if (!read.readable) {
            return "an object that cannot be read";
        }
        if (read.holdsNul) {
            return std::string(kNulRefusal);
        }
        marks_[object] = Mark::kOpen;
        stack_.push_back({object, std::move(read.children), 0, 0, read.ownCost});
        return std::nullopt;
    }

    std::optional<std::string> close() {
        const Frame& frame = stack_.back();
        if (frame.cost > costLimit_) {
            return "builds to more than " + std::to_string(costLimit_ / kPlistObjectCost) +
                   " objects' worth from " + std::to_string(layout_.data.size()) +
                   " bytes (shared references)";
        }
        const std::size_t height = frame.height + 1;
        const std::uint64_t cost = frame.cost;
        heights_[frame.object] = height;
        costs_[frame.object] = cost;
        marks_[frame.object] = Mark::kDone;
        stack_.pop_back();
        if (!stack_.empty()) {
            stack_.back().height = std::max(stack_.back().height, height);
            stack_.back().cost = saturatingAdd(stack_.back().cost, cost);
        }
        return std::nullopt;
    }

    const BinaryLayout& layout_;
    const std::size_t maxDepth_;
    const std::uint64_t costLimit_;
    std::vector<Mark> marks_;
    std::vector<std::size_t> heights_;
    std::vector<std::uint64_t> costs_;
    std::vector<Frame> stack_;
};

}  // namespace

std::uint64_t plistCostLimit(std::size_t size) {
    constexpr std::uint64_t kPerByte = 64;
    const std::uint64_t scaled = size > std::numeric_limits<std::uint64_t>::max() / kPerByte
                                     ? std::numeric_limits<std::uint64_t>::max()
                                     : static_cast<std::uint64_t>(size) * kPerByte;
    return saturatingAdd(scaled, std::uint64_t{1} << 20);
}

std::optional<std::string> plistPreScan(std::span<const std::uint8_t> data, std::size_t maxDepth) {
    if (asText(data).starts_with("bplist00")) {
        const std::optional<BinaryLayout> layout = readTrailer(data);
        if (!layout) {
            return "a binary property list without a readable trailer";
        }
        return BinaryWalk(*layout, maxDepth).refusal();
    }
    if (asText(data).find('\0') != std::string_view::npos) {
        return std::string(kNulRefusal);  // which XML does not allow anywhere
    }
    if (xmlNestsDeeperThan(asText(data), maxDepth)) {
        return "nested deeper than " + std::to_string(maxDepth) + " levels";
    }
    return std::nullopt;
}

bool isWellFormedUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length of the sequence, and the range its second byte must fall in (which rules
        // out overlong forms, surrogates and code points past U+10FFFF).
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace platform
