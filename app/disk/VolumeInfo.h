#pragma once

#include <sys/statvfs.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace cb {

// Where VolumeInfo reads the system's device and mount tables; tests point these at fixture
// trees.
struct VolumeInfoSources {
    std::string sysfsRoot = "/sys";
    std::string mountinfoPath = "/proc/self/mountinfo";
};

// Facts about the volume that holds a location: its capacity, the block device it lives on and
// that device's medium. Stateless; every member may be called from any thread. No member reports
// an error: what cannot be told becomes nullopt or MediumKind::undetermined.
//
// On Linux the capacity comes from statvfs, the device from /sys/dev/block/MAJ:MIN (falling back
// to the mount's source in mountinfo for file systems with anonymous device numbers, such as
// btrfs), the medium from the disk's queue/rotational, and "not local" from the file-system type
// of the mount in /proc/self/mountinfo.
class VolumeInfo {
  public:
    VolumeInfo() = delete;

    // Total, free and raw free bytes of a volume.
    struct Capacity {
        int64_t total = 0;
        int64_t free = 0;     // bytes available for important usage; equals rawFree on Linux
        int64_t rawFree = 0;  // bytes available to an unprivileged user
        friend bool operator==(const Capacity&, const Capacity&) = default;
    };

    // The medium of a volume's device; the numbers are fixed.
    enum class MediumKind : int { solidState = 0, rotational = 1, notLocal = 2, undetermined = 3 };

    // Where the system's device and mount tables are read; tests point these at fixture trees.
    using Sources = VolumeInfoSources;

    // Capacity of the volume holding `path`, or nullopt when statvfs fails or the volume reports
    // no total (pseudo file systems report 0 blocks).
    static std::optional<Capacity> capacity(const std::string& path);

    // The same from statvfs values the caller read.
    static std::optional<Capacity> capacity(const struct statvfs& values);

    // The kernel name of the block device holding `path` ("vda", "nvme0n1p2", "dm-0"), or
    // nullopt when the path cannot be stat'ed or its volume has no block device.
    static std::optional<std::string> bsdName(const std::string& path, const Sources& sources = {});

    // The medium of the block device named `bsdName`: a partition is resolved to its disk, a
    // device-mapper or RAID device to the disks under its slaves/. "0" in queue/rotational is
    // solid state, "1" rotational, anything else (or a missing file) undetermined. A paravirtual
    // disk (virtio, Xen) cannot tell its medium, so its "1" (the kernel's default) is
    // undetermined. When the underlying disks differ, any rotational one makes the whole
    // rotational. Never notLocal.
    static MediumKind mediumType(const std::string& bsdName, const Sources& sources = {});

    // The medium of the volume holding `path`: notLocal when its mount is a network file system
    // (nfs, cifs/smb3, 9p, sshfs, ceph, ...), else mediumType() of its device, else undetermined.
    static MediumKind mediumKind(const std::string& path, const Sources& sources = {});

    // True for file-system types of mountinfo that live on another machine.
    static bool isNetworkFileSystem(const std::string& type);
};

}  // namespace cb
