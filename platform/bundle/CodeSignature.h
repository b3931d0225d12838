#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>

#include "platform/preferences/PlistValue.h"

namespace platform {

// The largest entitlements blob that is read; a larger one counts as damaged.
inline constexpr size_t kMaxEntitlementsBlobSize = 1u << 20;

// Reads the entitlements embedded in the code signature of a Mach-O executable: a thin file (32
// or 64 bit, either byte order) or a fat file (magic 0xcafebabe or 0xcafebabf, slices tried in
// table order, the first slice whose entitlements read wins). The signature is found through the
// LC_CODE_SIGNATURE load command; its super blob (0xfade0cc0) holds the entitlements blob
// (0xfade7171), an XML property list.
//
// The file is untrusted: only the headers, the load commands and the blobs needed are read with
// pread(2), never the whole file, and every count, offset and length is checked against the
// file size and the structure that encloses it before it is used.
//
// Returns nullopt when the file cannot be opened, is not a regular file, is not Mach-O (an ELF
// file or a script), carries no signature or no entitlements, or is damaged anywhere on the way
// (truncated, inconsistent, an entitlements blob over kMaxEntitlementsBlobSize, or a blob that
// is not a property-list dictionary). Blocks on the reads; any thread.
std::optional<PlistDictionary> readEntitlements(const std::filesystem::path& executable);

}  // namespace platform
