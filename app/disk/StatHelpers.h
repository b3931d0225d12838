#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
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
class StatHelpers {
    struct Place;

  public:
    // Entries per batch and per claimed chunk. A batch of up to kInline entries is stat'ed by its
    // walker alone: handing it out costs more than it saves, and a helper that claims it and is
    // then preempted would hold the walker up.
    static constexpr size_t kBatch = 256;
    static constexpr size_t kChunk = 8;
    static constexpr size_t kInline = 32;

    // Starts `helpers` threads of its own (0: only serve() calls help) for up to `walkers`
    // walker slots, each request going through `reader`. Once `cancelled` (when given) is set,
    // folders asked for ahead are no longer opened or stat'ed. REQUIRES: the reader and the
    // flag outlive this object.
    StatHelpers(DirectoryReader& reader, int helpers, size_t walkers,
                const std::atomic<bool>* cancelled = nullptr);
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
    class Lookahead {
      public:
        // Folders listed ahead per walker.
        static constexpr size_t kPlaces = 24;

        // Asks for the folder `name` in the open folder `parentFd` under `key`. False when
        // every place of this walker is taken. REQUIRES: `parentFd` and `name` stay valid
        // until the key is taken or dropped.
        bool ask(uint64_t key, int parentFd, const char* name);
        // Takes what was made for `key`: true with `fd` (the caller owns it; -1 when the open
        // failed), `listed` (whether readEntries() succeeded), the listing and the facts of its
        // first entries swapped into `listing` and `facts`. Waits for a helper at work on it;
        // false (and nothing to own) when the key was not asked for or no helper started on it.
        bool take(uint64_t key, int& fd, bool& listed, DirectoryReader::Listing& listing,
                  std::vector<EntryFacts>& facts);
        // Settles every key from `firstKey` on (waiting for helpers at work on them) and
        // closes their folders with `close`: when the listing that asked for them ends, and
        // before the walker closes folders they were asked for in.
        template <typename Close>
        void drop(uint64_t firstKey, Close&& close) {
            for (size_t i = 0; i < kPlaces; ++i) {
                const int fd = settle(i, firstKey);
                if (fd >= 0) {
                    close(fd);
                }
            }
        }

      private:
        friend class StatHelpers;
        Lookahead(StatHelpers& helpers, Place* places) : helpers_(helpers), places_(places) {}
        // Frees place i if it holds a key >= firstKey; returns the descriptor left to close.
        int settle(size_t i, uint64_t firstKey);

        StatHelpers& helpers_;
        Place* places_;
    };

    // The lookahead of walker slot `slot`. REQUIRES: as makeStatter().
    Lookahead lookahead(size_t slot);

  private:
    class Statter;
    struct Slot;

    void helperLoop(size_t first);
    std::atomic<size_t> nextFirst_{0};  // where the next helper starts looking
    // Claims and stats chunks of the slot's batch until none is left; true if it did any.
    bool workOn(Slot& slot);
    // Claims one folder asked for ahead and lists it; true if it did.
    bool listAhead(Slot& slot);
    void wake();
    bool anyWork() const;
    void publish(Slot& slot, int dirFd, const DirectoryReader::Listing& listing, size_t first,
                 size_t count, EntryFacts* out);

    DirectoryReader& reader_;
    const std::atomic<bool>* const cancelled_;
    std::unique_ptr<Slot[]> slots_;
    const size_t slotCount_;
    std::atomic<bool> stop_{false};
    // Bumped for every published batch; sleeping helpers wait on it.
    std::atomic<uint32_t> epoch_{0};
    std::atomic<int> sleepers_{0};
    std::vector<std::thread> threads_;
};

}  // namespace cb
