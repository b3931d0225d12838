#pragma once

#include <optional>
#include <string>
#include <vector>

// Synthetic Mach-O executables for the code-signature reader's tests: the headers, load commands
// and signature blobs a linker and a signing tool would write, around a few filler bytes of
// "code". Nothing here is runnable.
namespace cb::testsupport {

struct MachOSlice {
    bool is64 = true;
    bool bigEndian = false;
    // The entitlements blob's payload (an XML property list); nullopt writes an unsigned file
    // (no LC_CODE_SIGNATURE at all).
    std::optional<std::string> entitlements;
};

// The bytes of a thin Mach-O file. A signed one has a super blob with two entries: a code
// directory and, last in the file, the entitlements blob.
std::string machOImage(const MachOSlice& slice);

// The bytes of a fat file (magic 0xcafebabe, or 0xcafebabf with 64-bit offsets when `wide`)
// holding machOImage() of each slice, in order, each at a 16-byte aligned offset.
std::string fatMachOImage(const std::vector<MachOSlice>& slices, bool wide = false);

// An XML property list whose one key "com.apple.security.application-groups" holds `groups`
// (plain text, no markup characters).
std::string applicationGroupsPlist(const std::vector<std::string>& groups);

}  // namespace cb::testsupport
