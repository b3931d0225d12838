#include "sdk/utilities/PlistDepth.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace sdk {

namespace {

std::string_view asText(std::span<const std::uint8_t> data) {
    return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

// Position after `terminator` at or after `from`; npos when absent.
std::size_t skipPast(std::string_view text, std::size_t from, std::string_view terminator) {
    const std::size_t at = text.find(terminator, from);
    return at == std::string_view::npos ? at : at + terminator.size();
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
    if (data.size() < 8 + kTrailerSize || asText(data.first(8)) != "bplist00") {
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
        layout.objectCount > data.size()) {
        return std::nullopt;
    }
    return layout;
}

// The object references held by container `object`; empty for other objects or when the
// container cannot be read.
std::vector<std::uint64_t> childrenOf(const BinaryLayout& layout, std::uint64_t object) {
    auto offset = readBigEndian(layout.data, layout.offsetTable + object * layout.offsetSize,
                                layout.offsetSize);
    if (!offset || *offset >= layout.data.size()) {
        return {};
    }
    const std::uint8_t marker = layout.data[*offset];
    const std::uint8_t kind = marker >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xD) {
        return {};
    }
    std::uint64_t count = marker & 0x0F;
    std::uint64_t position = *offset + 1;
    if (count == 0x0F) {  // the count follows as an integer object
        if (position >= layout.data.size() || (layout.data[position] >> 4) != 0x1) {
            return {};
        }
        const std::size_t size = std::size_t{1} << (layout.data[position] & 0x0F);
        auto value = readBigEndian(layout.data, position + 1, size);
        if (!value) {
            return {};
        }
        count = *value;
        position += 1 + size;
    }
    const std::uint64_t refs = kind == 0xD ? count * 2 : count;
    if (count > layout.data.size() || refs * layout.refSize > layout.data.size() - position) {
        return {};
    }
    std::vector<std::uint64_t> children;
    children.reserve(refs);
    for (std::uint64_t i = 0; i < refs; ++i) {
        children.push_back(
            *readBigEndian(layout.data, position + i * layout.refSize, layout.refSize));
    }
    return children;
}

// Depth-first walk over a binary plist's containers with an explicit stack. Each object is
// expanded once and remembers the height of its subtree, so shared objects cost nothing extra
// and still count at every depth they appear; an object met again while open is a cycle.
class DepthWalk {
  public:
    DepthWalk(const BinaryLayout& layout, std::size_t maxDepth)
        : layout_(layout),
          maxDepth_(maxDepth),
          marks_(layout.objectCount, Mark::kNew),
          heights_(layout.objectCount, 0) {}

    // True when some path is deeper than the limit or runs in a cycle.
    bool exceeds() {
        open(layout_.topObject);
        while (!stack_.empty()) {
            if (stack_.size() > maxDepth_) {
                return true;
            }
            Frame& frame = stack_.back();
            if (frame.next == frame.children.size()) {
                close();
                continue;
            }
            const std::uint64_t child = frame.children[frame.next++];
            if (child >= layout_.objectCount) {
                continue;
            }
            if (marks_[child] == Mark::kOpen) {
                return true;
            }
            if (marks_[child] == Mark::kDone) {
                if (stack_.size() + heights_[child] > maxDepth_) {
                    return true;
                }
                frame.height = std::max(frame.height, heights_[child]);
                continue;
            }
            open(child);  // `frame` is stale from here
        }
        return false;
    }

  private:
    enum class Mark : std::uint8_t { kNew, kOpen, kDone };
    struct Frame {
        std::uint64_t object;
        std::vector<std::uint64_t> children;
        std::size_t next = 0;
        std::size_t height = 0;  // tallest child subtree seen so far
    };

    void open(std::uint64_t object) {
        marks_[object] = Mark::kOpen;
        stack_.push_back({object, childrenOf(layout_, object)});
    }

    void close() {
        const Frame& frame = stack_.back();
        const std::size_t height = frame.height + 1;
        heights_[frame.object] = height;
        marks_[frame.object] = Mark::kDone;
        stack_.pop_back();
        if (!stack_.empty()) {
            stack_.back().height = std::max(stack_.back().height, height);
        }
    }

    const BinaryLayout& layout_;
    const std::size_t maxDepth_;
    std::vector<Mark> marks_;
    std::vector<std::size_t> heights_;
    std::vector<Frame> stack_;
};

}  // namespace

bool xmlPlistNestsDeeperThan(std::span<const std::uint8_t> data, std::size_t maxDepth) {
    const std::string_view text = asText(data);
    std::size_t depth = 0;
    std::size_t pos = text.find('<');
    while (pos != std::string_view::npos) {
        std::string_view rest = text.substr(pos);
        std::size_t next;
        if (rest.starts_with("<!--")) {
            next = skipPast(text, pos + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            next = skipPast(text, pos + 9, "]]>");
        } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
            next = skipPast(text, pos + 2, ">");
        } else {
            next = skipPast(text, pos + 1, ">");
            if (next == std::string_view::npos) {
                break;
            }
            if (rest.starts_with("</")) {
                depth = depth > 0 ? depth - 1 : 0;
            } else if (text[next - 2] != '/' && ++depth > maxDepth) {
                return true;
            }
        }
        if (next == std::string_view::npos) {
            break;
        }
        pos = text.find('<', next);
    }
    return false;
}

bool binaryPlistNestsDeeperThan(std::span<const std::uint8_t> data, std::size_t maxDepth) {
    const std::optional<BinaryLayout> layout = readTrailer(data);
    return layout && DepthWalk(*layout, maxDepth).exceeds();
}

}  // namespace sdk
