#include "app/disk/VolumeInfo.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>
#include <vector>

namespace cb {

namespace fs = std::filesystem;

namespace {

// Device stacks (partition -> dm -> md -> disk) are shallow; the limit guards fixture loops.
constexpr int kMaxDeviceDepth = 8;

int64_t saturatedProduct(uint64_t count, uint64_t unit) {
    constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (unit != 0 && count > kMax / unit) {
        return std::numeric_limits<int64_t>::max();
    }
    return static_cast<int64_t>(count * unit);
}

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string unescapeMountField(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const std::string_view digits = text.substr(i + 1, 3);
            if (digits.find_first_not_of("01234567") == std::string_view::npos) {
                out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 +
                                         (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

struct MountEntry {
    std::string type;
    std::string source;
};

// The last mountinfo line for device `dev` (later mounts hide earlier ones).
std::optional<MountEntry> findMount(dev_t dev, const std::string& mountinfoPath) {
    std::ifstream in(mountinfoPath);
    const std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    std::optional<MountEntry> found;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parentId, devField;
        if (!(fields >> id >> parentId >> devField) || devField != wanted) {
            continue;
        }
        const size_t dash = line.find(" - ");
        if (dash == std::string::npos) {
            continue;
        }
        std::istringstream tail(line.substr(dash + 3));
        MountEntry entry;
        std::string source;
        if (tail >> entry.type) {
            tail >> source;
            entry.source = unescapeMountField(source);
            found = entry;
        }
    }
    return found;
}

// The kernel name behind /sys/dev/block/MAJ:MIN, if the device is a block device.
std::optional<std::string> nameFromDeviceNumber(dev_t dev, const std::string& sysfsRoot) {
    const fs::path link = fs::path(sysfsRoot) / "dev" / "block" /
                          (std::to_string(major(dev)) + ":" + std::to_string(minor(dev)));
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    if (ec || target.filename().empty()) {
        return std::nullopt;
    }
    return target.filename().string();
}

// Resolves a mount source such as /dev/nvme0n1p2 or /dev/mapper/vg-root to a kernel name.
std::optional<std::string> nameFromMountSource(const std::string& source,
                                               const std::string& sysfsRoot) {
    if (source.rfind("/dev/", 0) != 0) {
        return std::nullopt;
    }
    struct stat st {};
    if (::stat(source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
        if (auto name = nameFromDeviceNumber(st.st_rdev, sysfsRoot)) {
            return name;
        }
    }
    const std::string candidate = fs::path(source).filename().string();
    std::error_code ec;
    if (!candidate.empty() && fs::exists(fs::path(sysfsRoot) / "class" / "block" / candidate, ec)) {
        return candidate;
    }
    return std::nullopt;
}

std::optional<std::string> readFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

VolumeInfo::MediumKind combine(const std::vector<VolumeInfo::MediumKind>& kinds) {
    using K = VolumeInfo::MediumKind;
    if (kinds.empty()) {
        return K::undetermined;
    }
    bool anyUndetermined = false;
    for (K kind : kinds) {
        if (kind == K::rotational) {
            return K::rotational;  // the walk is as slow as its slowest disk
        }
        anyUndetermined |= kind == K::undetermined;
    }
    return anyUndetermined ? K::undetermined : K::solidState;
}

// A virtual machine's paravirtual disk learns nothing about the medium behind it, so its
// queue/rotational holds the kernel's default "1", not a report of the device.
bool isParavirtualDisk(const fs::path& diskDir) {
    std::error_code ec;
    const fs::path driver = fs::read_symlink(diskDir / "device" / "driver", ec);
    if (ec) {
        return false;
    }
    const std::string name = driver.filename().string();
    return name == "virtio_blk" || name == "vbd";  // vbd: the Xen front end
}

VolumeInfo::MediumKind mediumOfDeviceDir(const fs::path& deviceDir, int depth) {
    using K = VolumeInfo::MediumKind;
    std::error_code ec;
    fs::path dir = fs::canonical(deviceDir, ec);
    if (ec || depth > kMaxDeviceDepth) {
        return K::undetermined;
    }
    if (fs::exists(dir / "partition", ec)) {
        dir = dir.parent_path();
    }
    std::vector<K> slaves;
    for (const auto& entry : fs::directory_iterator(dir / "slaves", ec)) {
        slaves.push_back(mediumOfDeviceDir(entry.path(), depth + 1));
    }
    if (!slaves.empty()) {
        return combine(slaves);
    }
    const auto rotational = readFirstLine(dir / "queue" / "rotational");
    if (rotational == "0") {
        return K::solidState;
    }
    if (rotational == "1") {
        return isParavirtualDisk(dir) ? K::undetermined : K::rotational;
    }
    return K::undetermined;
}

}  // namespace

std::optional<VolumeInfo::Capacity> VolumeInfo::capacity(const std::string& path) {
    struct statvfs values {};
    if (::statvfs(path.c_str(), &values) != 0) {
        return std::nullopt;
    }
    return capacity(values);
}

std::optional<VolumeInfo::Capacity> VolumeInfo::capacity(const struct statvfs& values) {
    if (values.f_blocks == 0) {
        return std::nullopt;
    }
    const uint64_t unit = values.f_frsize != 0 ? values.f_frsize : values.f_bsize;
    Capacity result;
    result.total = saturatedProduct(values.f_blocks, unit);
    result.rawFree = saturatedProduct(values.f_bavail, unit);
    result.free = result.rawFree;  // Linux has no separate "important usage" figure
    return result;
}

std::optional<std::string> VolumeInfo::bsdName(const std::string& path, const Sources& sources) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    if (auto name = nameFromDeviceNumber(st.st_dev, sources.sysfsRoot)) {
        return name;
    }
    // btrfs and some others give files an anonymous device; the mount's source names the disk.
    if (auto mount = findMount(st.st_dev, sources.mountinfoPath)) {
        return nameFromMountSource(mount->source, sources.sysfsRoot);
    }
    return std::nullopt;
}

VolumeInfo::MediumKind VolumeInfo::mediumType(const std::string& bsdName, const Sources& sources) {
    if (bsdName.empty() || bsdName.find('/') != std::string::npos || bsdName == "." ||
        bsdName == "..") {
        return MediumKind::undetermined;
    }
    return mediumOfDeviceDir(fs::path(sources.sysfsRoot) / "class" / "block" / bsdName, 0);
}

VolumeInfo::MediumKind VolumeInfo::mediumKind(const std::string& path, const Sources& sources) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        const auto mount = findMount(st.st_dev, sources.mountinfoPath);
        if (mount && isNetworkFileSystem(mount->type)) {
            return MediumKind::notLocal;
        }
    }
    const auto name = bsdName(path, sources);
    return name ? mediumType(*name, sources) : MediumKind::undetermined;
}

bool VolumeInfo::isNetworkFileSystem(const std::string& type) {
    static constexpr std::array<std::string_view, 17> kNetworkTypes = {
        "nfs",       "nfs4",           "cifs",   "smb3",       "smbfs",      "9p",
        "ceph",      "fuse.ceph",      "sshfs",  "fuse.sshfs", "afs",        "ncpfs",
        "glusterfs", "fuse.glusterfs", "lustre", "coda",       "fuse.rclone"};
    for (std::string_view candidate : kNetworkTypes) {
        if (type == candidate) {
            return true;
        }
    }
    return false;
}

}  // namespace cb
