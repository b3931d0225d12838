#include "sdk/utilities/ExecutableEncryption.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

namespace sdk {

namespace {

constexpr std::uint32_t kMagic32 = 0xfeedface;
constexpr std::uint32_t kMagic64 = 0xfeedfacf;
constexpr std::uint32_t kFileTypeExecute = 2;
constexpr std::uint32_t kEncryptionInfo32 = 0x21;
constexpr std::uint32_t kEncryptionInfo64 = 0x2C;
constexpr std::size_t kHeaderSize32 = 28;
constexpr std::size_t kHeaderSize64 = 32;
constexpr std::size_t kCommandHeaderSize = 8;
constexpr std::size_t kCryptIdOffset = 16;  // the fifth 32-bit word of the command

// The native-order 32-bit word at `offset`, or no value when it lies past the image.
std::optional<std::uint32_t> wordAt(std::span<const unsigned char> image, std::size_t offset) {
    if (offset > image.size() || image.size() - offset < sizeof(std::uint32_t)) {
        return std::nullopt;
    }
    std::uint32_t word = 0;
    std::memcpy(&word, image.data() + offset, sizeof word);
    return word;
}

}  // namespace

bool imageIsEncrypted(std::span<const unsigned char> image) {
    const std::optional<std::uint32_t> magic = wordAt(image, 0);
    if (!magic || (*magic != kMagic32 && *magic != kMagic64)) {
        return false;
    }
    const bool wide = *magic == kMagic64;
    const std::optional<std::uint32_t> fileType = wordAt(image, 12);
    const std::optional<std::uint32_t> commandCount = wordAt(image, 16);
    if (fileType != kFileTypeExecute || !commandCount) {
        return false;
    }
    const std::uint32_t wanted = wide ? kEncryptionInfo64 : kEncryptionInfo32;
    std::size_t offset = wide ? kHeaderSize64 : kHeaderSize32;
    for (std::uint32_t i = 0; i < *commandCount; ++i) {
        const std::optional<std::uint32_t> command = wordAt(image, offset);
        const std::optional<std::uint32_t> size = wordAt(image, offset + 4);
        if (!command || !size || *size < kCommandHeaderSize || *size > image.size() - offset) {
            return false;
        }
        if (*command == wanted) {
            const std::optional<std::uint32_t> cryptId =
                *size >= kCryptIdOffset + 4 ? wordAt(image, offset + kCryptIdOffset) : std::nullopt;
            return cryptId.value_or(0) != 0;
        }
        offset += *size;
    }
    return false;
}

bool executableIsEncrypted(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::vector<unsigned char> head(kMaxExecutableHeaderBytes);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return imageIsEncrypted(head);
}

}  // namespace sdk
