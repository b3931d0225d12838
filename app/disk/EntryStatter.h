#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <memory>

#include "app/disk/DirectoryReader.h"

namespace cb {

// The facts of one folder entry: `error` is 0 and `st` holds its lstat facts, or `error` is the
// errno of the failed stat.
struct EntryFacts {
    int error = 0;
    struct stat st {};
};

// Reads the facts of the entries of one folder for one walker thread. Not thread-safe: every
// walker makes its own (DirectoryReader::makeStatter()). The walker asks for up to batchSize()
// entries at a time and uses the facts before it asks again.
class EntryStatter {
  public:
    virtual ~EntryStatter() = default;

    // How many entries statEntries() handles at once; at least 1.
    virtual size_t batchSize() const = 0;

    // Fills out[0 .. count) with the facts of listing.name(first) .. listing.name(first + count
    // - 1), each read without following a symbolic link relative to the open folder `dirFd`.
    // REQUIRES: 1 <= count <= batchSize(); first + count <= listing.size().
    virtual void statEntries(int dirFd, const DirectoryReader::Listing& listing, size_t first,
                             size_t count, EntryFacts* out) = 0;
};

// Fills out[0 .. count) with reader.statEntry() of listing.name(first) .. listing.name(first +
// count - 1), one call per entry, in order.
void statEachEntry(DirectoryReader& reader, int dirFd, const DirectoryReader::Listing& listing,
                   size_t first, size_t count, EntryFacts* out);

// One DirectoryReader::statEntry() call per entry, in order: a reader's own statEntry() (a test
// double's, say) sees every entry exactly as the walk meets it.
class PerEntryStatter final : public EntryStatter {
  public:
    explicit PerEntryStatter(DirectoryReader& reader) : reader_(reader) {}

    size_t batchSize() const override { return 1; }
    void statEntries(int dirFd, const DirectoryReader::Listing& listing, size_t first, size_t count,
                     EntryFacts* out) override;

  private:
    DirectoryReader& reader_;
};

}  // namespace cb
