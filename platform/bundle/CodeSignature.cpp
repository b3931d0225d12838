#include "platform/bundle/CodeSignature.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/preferences/PlistCodec.h"

namespace platform {

namespace {

constexpr uint32_t kFatMagic = 0xcafebabe;
constexpr uint32_t kFatMagic64 = 0xcafebabf;
constexpr uint32_t kMachMagic = 0xfeedface;
constexpr uint32_t kMachMagic64 = 0xfeedfacf;
constexpr uint32_t kLoadCodeSignature = 0x1d;
constexpr uint32_t kSuperBlobMagic = 0xfade0cc0;
constexpr uint32_t kEntitlementsMagic = 0xfade7171;

// Far above anything a linker writes; they keep a crafted header from making us allocate or
// loop much before the file-size checks would catch it.
constexpr uint32_t kMaxFatSlices = 64;
constexpr uint32_t kMaxLoadCommandsSize = 4u << 20;
constexpr uint32_t kMaxBlobIndexEntries = 1024;

constexpr size_t kFatHeaderSize = 8;
constexpr size_t kFatArchSize = 20;    // cputype, cpusubtype, offset, size, align
constexpr size_t kFatArch64Size = 32;  // cputype, cpusubtype, offset (64), size (64), align, pad
constexpr size_t kLoadCommandHeaderSize = 8;
constexpr size_t kLinkeditDataCommandSize = 16;  // cmd, cmdsize, dataoff, datasize
constexpr size_t kSuperBlobHeaderSize = 12;      // magic, length, count
constexpr size_t kBlobIndexSize = 8;             // type, offset
constexpr size_t kBlobHeaderSize = 8;            // magic, length

using Bytes = std::vector<uint8_t>;

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

uint64_t bigEndian64(const uint8_t* p) {
    return uint64_t{bigEndian32(p)} << 32 | bigEndian32(p + 4);
}

uint32_t littleEndian32(const uint8_t* p) {
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | uint32_t{p[0]};
}

// Closes the descriptor it owns.
class OpenFile {
  public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// A byte range of the open file (the whole file, one slice, one signature). Reads and sub-ranges
// never leave it, so a length or offset taken from the file cannot reach past its enclosing
// structure.
class FileRange {
  public:
    FileRange(int fd, uint64_t offset, uint64_t size) : fd_(fd), offset_(offset), size_(size) {}

    uint64_t size() const { return size_; }

    // The range [at, at + length) of this range, or nullopt when it does not lie inside.
    std::optional<FileRange> sub(uint64_t at, uint64_t length) const {
        if (at > size_ || length > size_ - at) {
            return std::nullopt;
        }
        return FileRange(fd_, offset_ + at, length);
    }

    // `length` bytes from `at`; nullopt when they do not lie inside or cannot all be read (the
    // file may have shrunk since it was measured).
    std::optional<Bytes> read(uint64_t at, uint64_t length) const {
        if (!sub(at, length)) {
            return std::nullopt;
        }
        Bytes bytes(length);
        size_t done = 0;
        while (done < length) {
            const ssize_t n = ::pread(fd_, bytes.data() + done, length - done,
                                      static_cast<off_t>(offset_ + at + done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return std::nullopt;
            }
            done += static_cast<size_t>(n);
        }
        return bytes;
    }

  private:
    int fd_;
    uint64_t offset_;
    uint64_t size_;
};

std::optional<PlistDictionary> parseEntitlements(const Bytes& xml) {
    std::optional<PlistValue> root =
        decodePlist(std::string_view(reinterpret_cast<const char*>(xml.data()), xml.size()));
    const PlistDictionary* dictionary = root ? root->getIf<PlistDictionary>() : nullptr;
    if (dictionary == nullptr) {
        return std::nullopt;
    }
    return *dictionary;
}

// The entitlements blob of a super blob that fills `signature`; all of it is big-endian.
std::optional<PlistDictionary> entitlementsOfSignature(const FileRange& signature) {
    const std::optional<Bytes> header = signature.read(0, kSuperBlobHeaderSize);
    if (!header || bigEndian32(header->data()) != kSuperBlobMagic) {
        return std::nullopt;
    }
    const uint32_t length = bigEndian32(header->data() + 4);
    const uint32_t count = bigEndian32(header->data() + 8);
    const std::optional<FileRange> blob = signature.sub(0, length);
    if (!blob || length < kSuperBlobHeaderSize || count > kMaxBlobIndexEntries ||
        count > (length - kSuperBlobHeaderSize) / kBlobIndexSize) {
        return std::nullopt;
    }
    const std::optional<Bytes> index = blob->read(kSuperBlobHeaderSize, count * kBlobIndexSize);
    if (!index) {
        return std::nullopt;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = bigEndian32(index->data() + i * kBlobIndexSize + 4);
        const std::optional<Bytes> entry = blob->read(offset, kBlobHeaderSize);
        if (!entry) {
            return std::nullopt;
        }
        if (bigEndian32(entry->data()) != kEntitlementsMagic) {
            continue;
        }
        const uint32_t entryLength = bigEndian32(entry->data() + 4);
        if (entryLength < kBlobHeaderSize || entryLength > kMaxEntitlementsBlobSize) {
            return std::nullopt;
        }
        const std::optional<Bytes> xml =
            blob->read(uint64_t{offset} + kBlobHeaderSize, entryLength - kBlobHeaderSize);
        return xml ? parseEntitlements(*xml) : std::nullopt;
    }
    return std::nullopt;
}

// The header of a thin Mach-O file: its word size and byte order, and its load commands.
struct MachHeader {
    bool bigEndian = false;
    uint32_t headerSize = 0;
    uint32_t commandCount = 0;
    uint32_t commandsSize = 0;

    uint32_t word(const uint8_t* p) const { return bigEndian ? bigEndian32(p) : littleEndian32(p); }
};

std::optional<MachHeader> readMachHeader(const FileRange& slice) {
    const std::optional<Bytes> start = slice.read(0, 28);
    if (!start) {
        return std::nullopt;
    }
    MachHeader header;
    const uint8_t* p = start->data();
    for (const uint32_t magic : {littleEndian32(p), bigEndian32(p)}) {
        if (magic == kMachMagic || magic == kMachMagic64) {
            header.bigEndian = magic != littleEndian32(p);
            header.headerSize = magic == kMachMagic64 ? 32 : 28;
        }
    }
    if (header.headerSize == 0) {
        return std::nullopt;
    }
    header.commandCount = header.word(p + 16);
    header.commandsSize = header.word(p + 20);
    if (header.commandsSize > kMaxLoadCommandsSize ||
        header.commandCount > header.commandsSize / kLoadCommandHeaderSize ||
        !slice.sub(header.headerSize, header.commandsSize)) {
        return std::nullopt;
    }
    return header;
}

// The entitlements of the thin Mach-O file that fills `slice`. Offsets in its load commands are
// relative to the slice.
std::optional<PlistDictionary> entitlementsOfMachO(const FileRange& slice) {
    const std::optional<MachHeader> header = readMachHeader(slice);
    if (!header) {
        return std::nullopt;
    }
    const std::optional<Bytes> commands = slice.read(header->headerSize, header->commandsSize);
    if (!commands) {
        return std::nullopt;
    }
    size_t at = 0;
    for (uint32_t i = 0; i < header->commandCount; ++i) {
        if (commands->size() - at < kLoadCommandHeaderSize) {
            return std::nullopt;
        }
        const uint8_t* command = commands->data() + at;
        const uint32_t size = header->word(command + 4);
        if (size < kLoadCommandHeaderSize || size > commands->size() - at) {
            return std::nullopt;
        }
        if (header->word(command) == kLoadCodeSignature) {
            if (size < kLinkeditDataCommandSize) {
                return std::nullopt;
            }
            std::optional<FileRange> signature =
                slice.sub(header->word(command + 8), header->word(command + 12));
            return signature ? entitlementsOfSignature(*signature) : std::nullopt;
        }
        at += size;
    }
    return std::nullopt;
}

// The entitlements of the first slice of a fat file that has readable ones. The fat header and
// its table are big-endian; each slice is a thin Mach-O file.
std::optional<PlistDictionary> entitlementsOfFat(const FileRange& file, bool wide) {
    const std::optional<Bytes> header = file.read(0, kFatHeaderSize);
    const size_t archSize = wide ? kFatArch64Size : kFatArchSize;
    const uint32_t count = header ? bigEndian32(header->data() + 4) : 0;
    if (count > kMaxFatSlices) {
        return std::nullopt;
    }
    const std::optional<Bytes> table = file.read(kFatHeaderSize, count * archSize);
    if (!table) {
        return std::nullopt;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* arch = table->data() + i * archSize;
        const uint64_t offset = wide ? bigEndian64(arch + 8) : bigEndian32(arch + 8);
        const uint64_t size = wide ? bigEndian64(arch + 16) : bigEndian32(arch + 12);
        const std::optional<FileRange> slice = file.sub(offset, size);
        if (!slice) {
            continue;
        }
        if (std::optional<PlistDictionary> entitlements = entitlementsOfMachO(*slice)) {
            return entitlements;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<PlistDictionary> readEntitlements(const std::filesystem::path& executable) {
    // Non-blocking, so a named pipe left where the executable should be cannot stall the open.
    const OpenFile file(::open(executable.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    const FileRange whole(file.fd(), 0, static_cast<uint64_t>(st.st_size));
    const std::optional<Bytes> magic = whole.read(0, 4);
    if (!magic) {
        return std::nullopt;
    }
    const uint32_t fatMagic = bigEndian32(magic->data());
    if (fatMagic == kFatMagic || fatMagic == kFatMagic64) {
        return entitlementsOfFat(whole, fatMagic == kFatMagic64);
    }
    return entitlementsOfMachO(whole);
}

}  // namespace platform
