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

// Threads that read entry facts for the walkers of one scan, so that the stats of one walker's
// long folder run on every CPU while the walker alone lists the folder and builds its nodes.
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
class StatHelpers {
  public:
    // Entries per batch and per claimed chunk. A batch of up to kInline entries is stat'ed by its
    // walker alone: handing it out costs more than it saves, and a helper that claims it and is
    // then preempted would hold the walker up.
    static constexpr size_t kBatch = 256;
    static constexpr size_t kChunk = 8;
    static constexpr size_t kInline = 32;

    // Starts `helpers` threads of its own (0: only serve() calls help) for up to `walkers`
    // walker slots, each stat going through reader.statEntry(). REQUIRES: the reader outlives
    // this object.
    StatHelpers(DirectoryReader& reader, int helpers, size_t walkers);
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

  private:
    class Statter;
    struct Slot;

    void helperLoop(size_t first);
    std::atomic<size_t> nextFirst_{0};  // where the next helper starts looking
    // Claims and stats chunks of the slot's batch until none is left; true if it did any.
    bool workOn(Slot& slot);
    bool anyWork() const;
    void publish(Slot& slot, int dirFd, const DirectoryReader::Listing& listing, size_t first,
                 size_t count, EntryFacts* out);

    DirectoryReader& reader_;
    std::unique_ptr<Slot[]> slots_;
    const size_t slotCount_;
    std::atomic<bool> stop_{false};
    // Bumped for every published batch; sleeping helpers wait on it.
    std::atomic<uint32_t> epoch_{0};
    std::atomic<int> sleepers_{0};
    std::vector<std::thread> threads_;
};

}  // namespace cb
