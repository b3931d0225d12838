#include "app/disk/EntryStatter.h"

#include <cerrno>

namespace cb {

void statEachEntry(DirectoryReader& reader, int dirFd, const DirectoryReader::Listing& listing,
                   size_t first, size_t count, EntryFacts* out) {
    for (size_t i = 0; i < count; ++i) {
        EntryFacts& facts = out[i];
        errno = 0;
        if (reader.statEntry(dirFd, listing.name(first + i), facts.st) == 0) {
            facts.error = 0;
        } else {
            facts.error = errno != 0 ? errno : EIO;
        }
    }
}

void PerEntryStatter::statEntries(int dirFd, const DirectoryReader::Listing& listing, size_t first,
                                  size_t count, EntryFacts* out) {
    statEachEntry(reader_, dirFd, listing, first, count, out);
}

}  // namespace cb
