#include "app/disk/VolumeInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using Kind = VolumeInfo::MediumKind;

std::string deviceNumber(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
}

// A small sysfs: SATA disk sda (rotational) with partition sda1, NVMe disk nvme0n1 (solid state)
// with partition nvme0n1p2, dm-0 over the NVMe partition, dm-1 over both, md0 over dm-0, a
// virtio disk vda with the kernel's default "1" (and dm-2 over its partition), a Xen disk xvda,
// and devices whose medium cannot be told.
class FixtureSysfs {
  public:
    FixtureSysfs() {
        disk("pci/sda", "1");
        partition("pci/sda", "sda1");
        disk("pci/nvme0n1", "0");
        partition("pci/nvme0n1", "nvme0n1p2");
        disk("virtual/dm-0", "");
        slave("virtual/dm-0", "pci/nvme0n1/nvme0n1p2");
        disk("virtual/dm-1", "");
        slave("virtual/dm-1", "pci/nvme0n1/nvme0n1p2");
        slave("virtual/dm-1", "pci/sda/sda1");
        disk("virtual/md0", "");
        slave("virtual/md0", "virtual/dm-0");
        disk("virtual/loop0", std::nullopt);
        disk("virtual/odd", "2");
        disk("virtual/dm-9", "");
        slave("virtual/dm-9", "virtual/loop0");
        driver("pci/sda", "sd");
        disk("pci/vda", "1");
        driver("pci/vda", "virtio_blk");
        partition("pci/vda", "vda1");
        disk("virtual/dm-2", "");
        slave("virtual/dm-2", "pci/vda/vda1");
        disk("xen/xvda", "1");
        driver("xen/xvda", "vbd");
    }

    VolumeInfo::Sources sources() const { return {root_.path().string(), mountinfo_.string()}; }
    const fs::path& root() const { return root_.path(); }

    void writeMountinfo(const std::string& text) { ts::writeText(mountinfo_, text); }

    // /sys/dev/block/MAJ:MIN for `number` -> the device `relDevice`.
    void linkDeviceNumber(const std::string& number, const std::string& relDevice) {
        ts::makeSymlink("../../devices/" + relDevice, root_ / ("dev/block/" + number));
    }

  private:
    void disk(const std::string& rel, std::optional<std::string> rotational) {
        const fs::path dir = root_ / ("devices/" + rel);
        ts::makeDir(dir);
        if (rotational && !rotational->empty()) {
            ts::writeText(dir / "queue/rotational", *rotational + "\n");
        }
        classLink(rel);
    }
    // <disk>/device/driver -> .../drivers/<name>, as the kernel links a disk to its driver.
    void driver(const std::string& diskRel, const std::string& name) {
        const fs::path dir = root_ / ("devices/" + diskRel);
        ts::makeDir(root_ / ("bus/drivers/" + name));
        ts::makeSymlink(root_ / ("bus/drivers/" + name), dir / "device/driver");
    }
    void partition(const std::string& diskRel, const std::string& name) {
        const fs::path dir = root_ / ("devices/" + diskRel + "/" + name);
        ts::writeText(dir / "partition", "1\n");
        classLink(diskRel + "/" + name);
    }
    void slave(const std::string& holderRel, const std::string& slaveRel) {
        const std::string name = fs::path(slaveRel).filename().string();
        ts::makeSymlink(root_ / ("devices/" + slaveRel),
                        root_ / ("devices/" + holderRel + "/slaves/" + name));
    }
    void classLink(const std::string& rel) {
        const std::string name = fs::path(rel).filename().string();
        ts::makeSymlink("../../devices/" + rel, root_ / ("class/block/" + name));
    }

    ts::TempDir root_{"cb-sysfs"};
    fs::path mountinfo_ = root_ / "mountinfo";
};

TEST(VolumeInfoTest, MediumTypeFromFixtureSysfs) {
    FixtureSysfs sysfs;
    struct Case {
        std::string name;
        Kind expected;
    };
    const std::vector<Case> cases = {
        {"sda", Kind::rotational},       {"sda1", Kind::rotational},
        {"nvme0n1", Kind::solidState},   {"nvme0n1p2", Kind::solidState},
        {"dm-0", Kind::solidState},      {"md0", Kind::solidState},
        {"dm-1", Kind::rotational},      {"loop0", Kind::undetermined},
        {"odd", Kind::undetermined},     {"dm-9", Kind::undetermined},
        {"missing", Kind::undetermined}, {"../class", Kind::undetermined},
        {"", Kind::undetermined},        {"vda", Kind::undetermined},
        {"vda1", Kind::undetermined},    {"dm-2", Kind::undetermined},
        {"xvda", Kind::undetermined},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VolumeInfo::mediumType(c.name, sysfs.sources()), c.expected) << c.name;
    }
}

TEST(VolumeInfoTest, MediumKindOfARealPathThroughFixtureTables) {
    ts::TempDir place;
    const std::string dev = deviceNumber(place.path());
    const std::string mountLine = "36 26 " + dev + " / /data rw,relatime - ";
    struct Case {
        std::string label, fsTypeAndSource, deviceLink;
        Kind expected;
        std::optional<std::string> bsdName;
    };
    const std::vector<Case> cases = {
        {"nfs4 share", "nfs4 server:/export rw", "pci/nvme0n1/nvme0n1p2", Kind::notLocal,
         "nvme0n1p2"},
        {"cifs share", "cifs //host/share rw", "", Kind::notLocal, std::nullopt},
        {"sshfs", "fuse.sshfs me@host:/ rw", "", Kind::notLocal, std::nullopt},
        {"ext4 on nvme", "ext4 /dev/nvme0n1p2 rw", "pci/nvme0n1/nvme0n1p2", Kind::solidState,
         "nvme0n1p2"},
        {"ext4 on lvm", "ext4 /dev/mapper/vg-x rw", "virtual/dm-1", Kind::rotational, "dm-1"},
        // Anonymous device number: the mount's source names the disk.
        {"btrfs", "btrfs /dev/sda1 rw", "", Kind::rotational, "sda1"},
        {"tmpfs", "tmpfs tmpfs rw", "", Kind::undetermined, std::nullopt},
    };
    for (const auto& c : cases) {
        FixtureSysfs sysfs;
        sysfs.writeMountinfo("22 26 0:21 / /sys rw - sysfs sysfs rw\n" + mountLine +
                             c.fsTypeAndSource + "\n");
        if (!c.deviceLink.empty()) {
            sysfs.linkDeviceNumber(dev, c.deviceLink);
        }
        EXPECT_EQ(VolumeInfo::mediumKind(place.path(), sysfs.sources()), c.expected) << c.label;
        EXPECT_EQ(VolumeInfo::bsdName(place.path(), sysfs.sources()), c.bsdName) << c.label;
    }
    FixtureSysfs sysfs;
    EXPECT_EQ(VolumeInfo::mediumKind((place / "missing").string(), sysfs.sources()),
              Kind::undetermined);
}

TEST(VolumeInfoTest, CapacityOfRootMatchesDf) {
    // Other processes write meanwhile, so compare a statvfs reading taken between two equal df
    // readings.
    auto readDf = [] {
        std::string out;
        FILE* pipe = ::popen("df -B1 --output=size,avail / | tail -1", "r");
        char buffer[256];
        while (pipe && ::fgets(buffer, sizeof buffer, pipe)) {
            out += buffer;
        }
        if (pipe) {
            ::pclose(pipe);
        }
        long long size = -1, avail = -1;
        std::sscanf(out.c_str(), "%lld %lld", &size, &avail);
        return std::make_pair(size, avail);
    };
    long long lastDifference = 0;
    long long lastDrift = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        const auto before = readDf();
        const auto capacity = VolumeInfo::capacity("/");
        const auto after = readDf();
        ASSERT_TRUE(capacity.has_value());
        EXPECT_EQ(capacity->total, before.first);
        EXPECT_EQ(capacity->free, capacity->rawFree);
        // Free space can move and come back between the readings while other processes write;
        // a reading that agrees with both df readings settles it.
        if (before == after && capacity->rawFree == before.second) {
            return;
        }
        lastDifference = capacity->rawFree - before.second;
        lastDrift = std::llabs(after.second - before.second);
    }
    // Under heavy writing (parallel builds) the readings may never settle: the reading must still
    // lie where df saw free space, give or take what moved meanwhile. A wrong unit or counting
    // the root reserve as free is off by far more than that.
    EXPECT_LE(std::llabs(lastDifference), lastDrift + (256LL << 20))
        << "statvfs never agreed with df; last difference " << lastDifference << " bytes";
}

TEST(VolumeInfoTest, CapacityNeedsAReportedTotal) {
    struct statvfs values {};
    values.f_frsize = 4096;
    values.f_bavail = 10;
    EXPECT_EQ(VolumeInfo::capacity(values), std::nullopt);
    values.f_blocks = 100;
    EXPECT_EQ(VolumeInfo::capacity(values), (VolumeInfo::Capacity{409600, 40960, 40960}));
    EXPECT_EQ(VolumeInfo::capacity("/no/such/place"), std::nullopt);
    EXPECT_EQ(VolumeInfo::capacity("/proc"), std::nullopt);
}

}  // namespace
}  // namespace cb
