#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace cb {

class EntryStatter;
class StatHelpers;

// The file-system calls a scan makes, behind one small interface so tests can block or fail a
// single call (a listing that hangs, a folder that cannot be read). The default implementation
// makes the real system calls and is stateless, so one instance may serve any number of threads;
// per-thread state lives in the EntryStatter each walker makes.
class DirectoryReader {
  public:
    // The entry names of one folder in the order the system returned them, "." and ".." left
    // out. Names are stored back to back, each NUL-terminated. A walker keeps one Listing per
    // folder level and reuses it, so its storage is allocated once, not once per folder.
    class Listing {
      public:
        size_t size() const { return offsets_.size(); }
        const char* name(size_t i) const { return names_.data() + offsets_[i]; }
        void add(const char* name, size_t length);
        void clear();

        // Scratch space for the reader's system calls, allocated on first use.
        static constexpr size_t kScratchSize = 32 * 1024;
        char* scratch();

      private:
        std::vector<char> names_;
        std::vector<uint32_t> offsets_;
        std::unique_ptr<char[]> scratch_;
    };

    virtual ~DirectoryReader() = default;

    // Opens the folder `name` relative to the folder descriptor `parentFd` (AT_FDCWD with an
    // absolute path for a scan root). A symbolic link is followed only when `followLink` is set
    // (the scan root); otherwise opening one fails. Returns a descriptor, or -1 with errno set.
    virtual int openDirectory(int parentFd, const char* name, bool followLink);

    // Replaces `out` with every entry of the open folder `fd`. Returns false (errno set) when the
    // folder cannot be read to its end.
    virtual bool readEntries(int fd, Listing& out);

    // The lstat facts of `name` in folder `dirFd` (fstatat without following links). Returns 0,
    // or -1 with errno set.
    virtual int statEntry(int dirFd, const char* name, struct stat& st);

    // Closes a descriptor returned by openDirectory().
    virtual void closeDirectory(int fd);

    // Reads entry facts for one walker thread. `helpers`, when set, are the scan's stat helper
    // threads and `slot` is the walker's slot among them; the scanner passes them only where
    // parallel requests are welcome (never on a rotational or network volume). This
    // implementation shares the walker's statEntry() calls with the helpers when it has them,
    // and otherwise makes them one at a time on the walker's thread.
    virtual std::unique_ptr<EntryStatter> makeStatter(StatHelpers* helpers, size_t slot);

    // A shared instance of the system's reader.
    static std::shared_ptr<DirectoryReader> system();
};

}  // namespace cb
