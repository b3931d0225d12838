#include "platform/bundle/CodeSignature.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/support/Fixtures.h"
#include "tests/support/MachOImage.h"
#include "tests/support/TempDir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
namespace ts = cb::testsupport;
using ts::MachOSlice;

constexpr const char* kGroupsKey = "com.apple.security.application-groups";

// The groups of readEntitlements(), or nullopt when it gives nothing; fails the test when the
// key is missing or not an array of strings.
std::optional<std::vector<std::string>> groupsIn(const fs::path& file) {
    std::optional<PlistDictionary> entitlements = readEntitlements(file);
    if (!entitlements) {
        return std::nullopt;
    }
    std::vector<std::string> groups;
    for (const PlistValue& value : *entitlements->at(kGroupsKey).getIf<PlistArray>()) {
        groups.push_back(*value.getIf<std::string>());
    }
    return groups;
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

MachOSlice signedSlice(bool is64, bool bigEndian, const std::vector<std::string>& groups) {
    return MachOSlice{is64, bigEndian, ts::applicationGroupsPlist(groups)};
}

TEST(CodeSignatureTest, ReadsTheEntitlementsOfThinAndFatFiles) {
    ts::TempDir dir;
    const std::vector<std::string> a = {"TEAM.group.a", "TEAM.group.b"};
    const std::vector<std::string> b = {"TEAM.group.other"};
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> groups;
    };
    const Case cases[] = {
        {"thin 64 little", ts::machOImage(signedSlice(true, false, a)), a},
        {"thin 64 big", ts::machOImage(signedSlice(true, true, a)), a},
        {"thin 32 little", ts::machOImage(signedSlice(false, false, a)), a},
        {"thin 32 big", ts::machOImage(signedSlice(false, true, a)), a},
        {"fat, unsigned slice first",
         ts::fatMachOImage({MachOSlice{true, false, std::nullopt}, signedSlice(false, true, b)}),
         b},
        {"fat, first signed slice wins",
         ts::fatMachOImage({signedSlice(true, false, a), signedSlice(true, false, b)}), a},
        {"fat 64", ts::fatMachOImage({MachOSlice{}, signedSlice(true, false, b)}, true), b},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(dir / "exe", c.bytes);
        EXPECT_EQ(groupsIn(dir / "exe"), c.groups);
    }
}

TEST(CodeSignatureTest, GivesNothingForFilesWithoutEntitlements) {
    ts::TempDir dir;
    fs::copy_file("/usr/bin/true", dir / "elf");
    writeBytes(dir / "unsigned", ts::machOImage(MachOSlice{true, false, std::nullopt}));
    writeBytes(dir / "fat-unsigned",
               ts::fatMachOImage({MachOSlice{}, MachOSlice{false, false, std::nullopt}}));
    writeBytes(dir / "script", "#!/bin/sh\necho hello\n");
    writeBytes(dir / "empty", "");
    writeBytes(dir / "not-a-plist", ts::machOImage(MachOSlice{true, false, "not a plist"}));
    writeBytes(dir / "array-plist",
               ts::machOImage(MachOSlice{true, false, "<plist><array/></plist>"}));
    ts::makeDir(dir / "folder");
    ts::makeFifo(dir / "fifo");  // must not block the open
    for (const char* name : {"elf", "unsigned", "fat-unsigned", "script", "empty", "not-a-plist",
                             "array-plist", "folder", "fifo", "missing"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(readEntitlements(dir / name), std::nullopt);
    }
}

TEST(CodeSignatureTest, RefusesAnEntitlementsBlobOverOneMebibyte) {
    ts::TempDir dir;
    const std::string plist = ts::applicationGroupsPlist({"TEAM.big"});
    const size_t payloadLimit = kMaxEntitlementsBlobSize - 8;  // the blob header is 8 bytes
    const size_t at = plist.find("<dict>") + 6;
    std::string largest = plist;
    largest.insert(at, std::string(payloadLimit - plist.size(), ' '));
    writeBytes(dir / "largest", ts::machOImage(MachOSlice{true, false, largest}));
    EXPECT_EQ(groupsIn(dir / "largest"), std::vector<std::string>{"TEAM.big"});

    largest.insert(at, " ");
    writeBytes(dir / "over", ts::machOImage(MachOSlice{true, false, largest}));
    EXPECT_EQ(groupsIn(dir / "over"), std::nullopt);
}

// Every prefix of a signed file: no read past the end (the sanitizer build checks), and either
// nothing or the whole set.
TEST(CodeSignatureTest, SurvivesEveryTruncation) {
    ts::TempDir dir;
    const std::vector<std::string> groups = {"TEAM.group.a", "TEAM.group.b"};
    const std::string images[] = {
        ts::machOImage(signedSlice(true, false, groups)),
        ts::machOImage(signedSlice(false, true, groups)),
        ts::fatMachOImage({MachOSlice{}, signedSlice(true, false, groups)}),
        ts::fatMachOImage({signedSlice(false, false, groups)}, true),
    };
    for (const std::string& image : images) {
        size_t found = 0;
        for (size_t length = 0; length <= image.size(); ++length) {
            writeBytes(dir / "exe", image.substr(0, length));
            const auto read = groupsIn(dir / "exe");
            ASSERT_TRUE(!read || *read == groups) << "cut at " << length;
            found += read.has_value();
        }
        EXPECT_EQ(found, 1u);  // only the whole file holds the whole blob
    }
}

// Every byte of the headers, commands and blob headers replaced in turn by values that make
// counts, offsets and lengths huge or zero: never a read outside the file, and no other groups
// than the file's (the property list itself is left alone).
TEST(CodeSignatureTest, SurvivesDamagedHeadersAndBlobs) {
    ts::TempDir dir;
    const std::vector<std::string> groups = {"TEAM.group.a"};
    const std::string plist = ts::applicationGroupsPlist(groups);
    const std::string images[] = {
        ts::machOImage(signedSlice(true, true, groups)),
        ts::fatMachOImage({signedSlice(false, false, groups), signedSlice(true, false, groups)}),
    };
    for (const std::string& image : images) {
        const size_t plistAt = image.find(plist);
        for (size_t at = 0; at < image.size(); ++at) {
            if (at >= plistAt && at < plistAt + plist.size()) {
                continue;
            }
            for (const char value : {'\xff', '\x00'}) {
                std::string damaged = image;
                damaged[at] = value;
                writeBytes(dir / "exe", damaged);
                const auto read = groupsIn(dir / "exe");
                ASSERT_TRUE(!read || *read == groups) << "byte " << at;
            }
        }
    }
}

}  // namespace
}  // namespace platform
