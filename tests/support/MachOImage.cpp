#include "tests/support/MachOImage.h"

#include <algorithm>
#include <cstdint>

namespace cb::testsupport {

namespace {

class Writer {
  public:
    explicit Writer(bool bigEndian) : bigEndian_(bigEndian) {}

    void word(uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            const int shift = bigEndian_ ? 24 - 8 * i : 8 * i;
            bytes_.push_back(static_cast<char>((value >> shift) & 0xff));
        }
    }
    void word64(uint64_t value) {
        word(static_cast<uint32_t>(value >> 32));  // the high word first: fat tables only
        word(static_cast<uint32_t>(value));
    }
    void raw(const std::string& text) { bytes_ += text; }
    void padTo(size_t size) { bytes_.resize(std::max(size, bytes_.size()), '\0'); }
    size_t size() const { return bytes_.size(); }
    const std::string& bytes() const { return bytes_; }

  private:
    bool bigEndian_;
    std::string bytes_;
};

// A super blob: a code directory stand-in, then the entitlements blob. Always big-endian.
std::string signature(const std::string& entitlements) {
    constexpr uint32_t kDirectoryLength = 20;
    const uint32_t headerLength = 12 + 2 * 8;
    Writer blob(true);
    blob.word(0xfade0cc0);
    blob.word(headerLength + kDirectoryLength + 8 + static_cast<uint32_t>(entitlements.size()));
    blob.word(2);
    blob.word(0);  // slot: code directory
    blob.word(headerLength);
    blob.word(5);  // slot: entitlements
    blob.word(headerLength + kDirectoryLength);
    blob.word(0xfade0c02);
    blob.word(kDirectoryLength);
    blob.padTo(headerLength + kDirectoryLength);
    blob.word(0xfade7171);
    blob.word(8 + static_cast<uint32_t>(entitlements.size()));
    blob.raw(entitlements);
    return blob.bytes();
}

}  // namespace

std::string machOImage(const MachOSlice& slice) {
    const uint32_t headerSize = slice.is64 ? 32 : 28;
    const uint32_t symtabSize = 24;
    const bool isSigned = slice.entitlements.has_value();
    const uint32_t commandsSize = symtabSize + (isSigned ? 16 : 0);
    const uint32_t codeEnd = headerSize + commandsSize + 64;
    const std::string blob = isSigned ? signature(*slice.entitlements) : std::string();

    Writer out(slice.bigEndian);
    out.word(slice.is64 ? 0xfeedfacf : 0xfeedface);
    out.word(slice.is64 ? 0x0100000c : 12);  // cpu type: arm64 / arm
    out.word(0);
    out.word(2);  // executable
    out.word(isSigned ? 2 : 1);
    out.word(commandsSize);
    out.word(0);
    if (slice.is64) {
        out.word(0);
    }
    out.word(0x2);  // LC_SYMTAB, all zero
    out.word(symtabSize);
    out.padTo(headerSize + symtabSize);
    if (isSigned) {
        out.word(0x1d);
        out.word(16);
        out.word(codeEnd);
        out.word(static_cast<uint32_t>(blob.size()));
    }
    out.padTo(headerSize + commandsSize);
    out.raw(std::string(64, '\x90'));
    out.raw(blob);
    return out.bytes();
}

std::string fatMachOImage(const std::vector<MachOSlice>& slices, bool wide) {
    std::vector<std::string> images;
    for (const MachOSlice& slice : slices) {
        images.push_back(machOImage(slice));
    }
    const size_t archSize = wide ? 32 : 20;
    size_t offset = (8 + archSize * images.size() + 15) / 16 * 16;
    Writer out(true);
    out.word(wide ? 0xcafebabf : 0xcafebabe);
    out.word(static_cast<uint32_t>(images.size()));
    std::vector<size_t> offsets;
    for (const std::string& image : images) {
        offsets.push_back(offset);
        out.word(0x0100000c);
        out.word(0);
        if (wide) {
            out.word64(offset);
            out.word64(image.size());
            out.word(4);
            out.word(0);
        } else {
            out.word(static_cast<uint32_t>(offset));
            out.word(static_cast<uint32_t>(image.size()));
            out.word(4);
        }
        offset = (offset + image.size() + 15) / 16 * 16;
    }
    for (size_t i = 0; i < images.size(); ++i) {
        out.padTo(offsets[i]);
        out.raw(images[i]);
    }
    return out.bytes();
}

std::string applicationGroupsPlist(const std::vector<std::string>& groups) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\"><dict>"
        "<key>com.apple.security.get-task-allow</key><true/>"
        "<key>com.apple.security.application-groups</key><array>";
    for (const std::string& group : groups) {
        xml += "<string>" + group + "</string>";
    }
    return xml + "</array></dict></plist>\n";
}

}  // namespace cb::testsupport
