#pragma once

#include <QUuid>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "app/uninstaller/RelatedCategory.h"

namespace cb {

// One file or folder outside an application's bundle that belongs to the application, as the
// related-file search found it. A plain value, safe to copy between threads.
//
// Equality and hashing look at `id` alone: the search gives every value a fresh id, so a value
// equals only its own copies, whatever was changed in them since (isShared).
struct RelatedFile {
    QUuid id;                   // fresh and random, given by the search
    std::filesystem::path url;  // the file or folder
    RelatedCategory category = RelatedCategory::applicationSupport;
    int64_t size = 0;  // allocated bytes of the file or folder tree (allocatedSize)
    // True when the item belongs to an application group rather than to this application alone;
    // such items start unchosen in the uninstall dialog.
    bool isShared = false;

    friend bool operator==(const RelatedFile& a, const RelatedFile& b) { return a.id == b.id; }
};

}  // namespace cb

template <>
struct std::hash<cb::RelatedFile> {
    size_t operator()(const cb::RelatedFile& file) const noexcept { return qHash(file.id); }
};
