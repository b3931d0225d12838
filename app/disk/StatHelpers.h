#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>

#include <sys/types.h>
#include <vector>

#include "app/disk/DirectoryReader.h"
#include "app/disk/EntryStatter.h"

namespace cb {

// Threads that make file-system requests for the walkers of one scan, so that the stats of one
// walker's long folder run on every CPU while the walker alone builds its nodes, and the next
// folders it will enter are listed ahead (Lookahead).
//
// Each walker owns a slot. To stat a batch it writes the batch into its slot, publishes a ticket
// (generation, chunk count, next chunk) and then claims chunks of its own batch like any helper;
// idle helpers claim the others. A chunk is claimed by a compare-and-swap on the ticket, so a
// helper holding a ticket of a finished batch claims nothing, and a claimed chunk keeps its batch
// (and the walker's folder descriptor) alive: the walker returns only when every chunk is done.
// Helpers without work spin for a short while (a walker publishes a batch every few tens of
// microseconds on a large folder, and waking a sleeping thread on another CPU costs more than
// that on a virtual machine) and then sleep until the next batch is published.
//
// Invariants:
//   1. The batch fields of a slot are written only by its walker, and only while no chunk of its
//      previous batch is outstanding (done == chunks).
//   2. A helper reads the batch fields only after claiming a chunk of that batch.
//   3. Every entry of a batch is stat'ed by exactly one thread, with the reader's statEntry().
//   4. A folder asked for ahead is listed by at most one thread; its place is reused only after
//      its walker has taken or dropped it, so its descriptor is always closed by the walker.
//   5. A place is dropped or taken only after every place asked for in its folder has been
//      dropped or handed to the walker's listing: a helper never opens a folder relative to a
//      descriptor, or by a name, that is gone.
class StatHelpers {
    struct Place;
    struct Slot;

  public:
    // Entries per batch and per claimed chunk. A batch of up to kInline entries is stat'ed by its
    // walker alone: handing it out costs more than it saves, and a helper that claims it and is
    // then preempted would hold the walker up.
    static constexpr size_t kBatch = 256;
    static constexpr size_t kChunk = 8;
    static constexpr size_t kInline = 32;

    // Which sub-folders of a folder are asked for ahead, by its walker and by a helper that
    // listed the folder ahead: folders on `device`, when they lie at most `maxDepth` below the
    // walk's root (a walker lists such a folder). kNoDescent asks for none.
    struct Descent {
        dev_t device;
        int maxDepth;

        // Whether `entry`, in a folder `depth` below the root, is such a sub-folder.
        bool covers(int depth, const EntryFacts& entry) const {
            return depth + 1 <= maxDepth && entry.error == 0 && S_ISDIR(entry.st.st_mode) &&
                   entry.st.st_dev == device;
        }
    };
    static constexpr Descent kNoDescent{0, -1};

    // Starts `helpers` threads of its own (0: only serve() calls help) for up to `walkers`
    // walker slots, each request going through `reader`. Once `cancelled` (when given) is set,
    // folders asked for ahead are no longer opened or stat'ed. REQUIRES: the reader and the
    // flag outlive this object.
    StatHelpers(DirectoryReader& reader, int helpers, size_t walkers,
                const std::atomic<bool>* cancelled = nullptr, Descent descent = kNoDescent);
    // Stops and joins the helpers. REQUIRES: no statter of this object is in statEntries() and
    // no serve() call is running.
    ~StatHelpers();

    // Helps on the calling thread (a walker that has no folder left) until stop().
    void serve();
    // Ends every serve() call and helper thread; their current chunks are finished first.
    void stop();

    StatHelpers(const StatHelpers&) = delete;
    StatHelpers& operator=(const StatHelpers&) = delete;

    // A statter for walker slot `slot`, to be used by one thread at a time. REQUIRES: slot <
    // walkers; at most one live statter per slot; this object outlives the statter.
    std::unique_ptr<EntryStatter> makeStatter(size_t slot);

    // Folders a walker is about to enter, opened, listed and given the facts of their first
    // batch by a helper while the walker is busy with the folder before them. The walker still
    // decides whether to enter a folder and builds its nodes; a folder it gets no result for
    // (not asked for, not started yet, or the open failed) it opens and lists itself.
    //
    // A folder is asked for under its inode number (a folder has one name on its device), by
    // the walker for the later sub-folders of one of its listings, and by a helper for the first
    // sub-folders of a folder it has just listed ahead (see Descent), so a chain of small folders
    // is listed ahead to its end while the walker is still above it. Every folder asked for
    // belongs to the listing whose descriptor and name it was asked with: one of the walker's own
    // (by depth) or another folder listed ahead. A folder taken by the walker becomes its
    // listing at the next depth, and so do the folders asked for in it.
    class Lookahead {
      public:
        // Folders listed ahead per walker.
        static constexpr size_t kPlaces = 128;
        // Sub-folders a helper asks for in one folder it listed ahead.
        static constexpr size_t kAskedPerFolder = 8;

        // What a helper made of a folder asked for ahead.
        struct Made {
            int fd = -1;          // the caller owns it; -1 when the open failed
            bool listed = false;  // whether readEntries() succeeded
            // Sub-folders among the entries before `askedThrough` were considered for asking
            // ahead; `asked` of them were asked for (now under the taker's listing).
            size_t askedThrough = 0;
            size_t asked = 0;
        };

        // Asks for the folder `name` (inode `key`) in the open folder `parentFd`, which the
        // walker lists at `depth`. False when every place of this walker is taken. REQUIRES:
        // `parentFd` and `name` stay valid until the listing at `depth` drops what it asked.
        bool ask(uint64_t key, int depth, int parentFd, const char* name);
        // Takes the folder `key` asked for in the walker's listing at `depth`, which the walker
        // now lists at depth + 1: true with `made`, the listing and the facts of its first
        // entries swapped into `listing` and `facts`. Waits for a helper at work on it; false
        // (and nothing to own) when the key was not asked for there or no helper started on it.
        bool take(uint64_t key, int depth, Made& made, DirectoryReader::Listing& listing,
                  std::vector<EntryFacts>& facts);
        // Settles every folder asked for in the walker's listings from `depth` down, and the
        // folders asked for in those (waiting for helpers at work on them), and closes their
        // descriptors with `close`: when the listing at `depth` ends, and before the walker
        // closes folders they were asked for in.
        template <typename Close>
        void drop(int depth, Close&& close) {
            for (size_t k = 0; k < owned_.size();) {
                if (owned_[k].depth >= depth) {
                    const uint32_t index = owned_[k].index;
                    owned_[k] = owned_.back();
                    owned_.pop_back();
                    dropPlace(index, close);
                } else {
                    ++k;
                }
            }
        }

      private:
        friend class StatHelpers;
        Lookahead(StatHelpers& helpers, Slot& slot);
        // Waits until place i is made, listing other places meanwhile when `help` is set; false
        // (and the place freed) when no helper had started it.
        bool finish(uint32_t i, bool help = false);
        // The places asked for in the folder of place i. REQUIRES: finish(i) returned true.
        std::span<const uint8_t> askedIn(uint32_t i) const;
        // Frees place i; returns its descriptor to close (-1: none).
        int release(uint32_t i);
        template <typename Close>
        void dropPlace(uint32_t i, Close& close) {
            if (!finish(i)) {
                return;
            }
            // The folders asked for in it hold its descriptor and names of its listing.
            for (const uint8_t asked : askedIn(i)) {
                dropPlace(asked, close);
            }
            const int fd = release(i);
            if (fd >= 0) {
                close(fd);
            }
        }

        // The places that belong to the walker's listings, kept by the walker alone so that it
        // never has to look through every place (each is written by helpers on other CPUs).
        struct Owned {
            uint64_t key;
            int depth;  // of the listing it was asked in
            uint32_t index;
        };
        StatHelpers* helpers_;
        Slot* slot_;
        std::vector<Owned> owned_;
    };

    // The lookahead of walker slot `slot`. REQUIRES: as makeStatter().
    Lookahead lookahead(size_t slot);
    const Descent& descent() const { return descent_; }

  private:
    class Statter;

    void helperLoop(size_t first);
    std::atomic<size_t> nextFirst_{0};  // where the next helper starts looking
    // Claims and stats chunks of the slot's batch until none is left; true if it did any.
    bool workOn(Slot& slot);
    // Claims one folder asked for ahead, the deepest first, and lists it; true if it did.
    bool listAhead(Slot& slot);
    // Asks for the first sub-folders of the folder in place `index`, which this thread lists.
    void askWithin(Slot& slot, size_t index);
    // Fills a free place of `slot` with a folder to list ahead; returns its index, or -1 when
    // none is free.
    int askIn(Slot& slot, uint64_t key, int depth, int parentFd, const char* name);
    void wake();
    bool anyWork() const;
    void publish(Slot& slot, int dirFd, const DirectoryReader::Listing& listing, size_t first,
                 size_t count, EntryFacts* out);

    DirectoryReader& reader_;
    const std::atomic<bool>* const cancelled_;
    const Descent descent_;
    std::unique_ptr<Slot[]> slots_;
    const size_t slotCount_;
    std::atomic<bool> stop_{false};
    // Bumped for every published batch; sleeping helpers wait on it.
    std::atomic<uint32_t> epoch_{0};
    std::atomic<int> sleepers_{0};
    std::vector<std::thread> threads_;
};

}  // namespace cb
