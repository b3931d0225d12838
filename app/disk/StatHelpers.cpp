#include "app/disk/StatHelpers.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <thread>

namespace cb {

namespace {

// How long an idle helper looks for work before it sleeps, and how long a walker spins for its
// last chunks before it sleeps.
constexpr std::chrono::microseconds kHelperSpin{200};
constexpr std::chrono::microseconds kWalkerSpin{50};
// A walker waiting for a folder listed ahead lists others itself while at least this many of
// its folders wait for a helper.
constexpr uint32_t kHelpWhenQueued = StatHelpers::Lookahead::kAskedPerFolder / 2;

// Spinning first pauses the CPU, then yields it between looks: on a loaded machine a helper
// that only spins takes the CPU from the walker it is waiting for (measured at a load of 9 on 8
// CPUs: 510k entries, 90% in one folder, 0.42 s spinning, 0.35 s yielding).
constexpr unsigned kPauses = 256;

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until done() holds or `limit` has passed; returns done().
template <typename Done>
bool spinUntil(Done&& done, std::chrono::microseconds limit) {
    const auto start = std::chrono::steady_clock::now();
    for (unsigned i = 1;; ++i) {
        if (done()) {
            return true;
        }
        if (i < kPauses) {
            cpuRelax();
        } else {
            std::this_thread::yield();  // another program may need this CPU more
        }
        if (i % 64 == 0 && std::chrono::steady_clock::now() - start > limit) {
            return done();
        }
    }
}

// A ticket: generation (32 bits), chunk count (16 bits), next chunk to claim (16 bits).
struct Ticket {
    uint32_t generation;
    uint32_t chunks;
    uint32_t next;

    static Ticket decode(uint64_t value) {
        return {static_cast<uint32_t>(value >> 32), static_cast<uint32_t>((value >> 16) & 0xffff),
                static_cast<uint32_t>(value & 0xffff)};
    }
    uint64_t encode() const {
        return (uint64_t{generation} << 32) | (uint64_t{chunks} << 16) | next;
    }
};

static_assert(StatHelpers::kBatch / StatHelpers::kChunk < 0xffff);

}  // namespace

// One folder asked for ahead. States: free -> asking (a thread claims it to ask) -> queued ->
// running (a helper claims it) -> done (the helper has filled it) -> free (take or drop); queued
// -> free when the walker takes or drops it first. Only the walker moves a place back to free;
// the fields below rank are written by whoever moved it to its current state and read after an
// acquire of it.
struct StatHelpers::Place {
    enum : uint32_t { kFree, kAsking, kQueued, kRunning, kDone };
    std::atomic<uint32_t> state{kFree};
    // The depth in the high bits and the inverse of the ask's number in the low ones, so the
    // greatest rank is the deepest folder, the earliest asked among equals. Read by helpers
    // looking for work while the place may change hands, so it is atomic.
    std::atomic<uint64_t> rank{0};
    uint64_t key = 0;
    int depth = 0;  // of the folder itself
    int parentFd = -1;
    const char* name = nullptr;
    int fd = -1;
    bool listed = false;
    size_t askedThrough = 0;
    size_t asked = 0;
    uint8_t askedPlaces[Lookahead::kAskedPerFolder] = {};  // where the `asked` ones are
    DirectoryReader::Listing listing;
    std::vector<EntryFacts> facts;

    static constexpr uint64_t kNumberMask = (uint64_t{1} << 40) - 1;
};

static_assert(StatHelpers::Lookahead::kPlaces <= 256, "place indices are stored in a byte");

struct alignas(64) StatHelpers::Slot {
    Place places[Lookahead::kPlaces];
    std::atomic<uint64_t> asks{0};  // numbers the asks, for their rank
    // Places in state queued, so idle helpers need not look at every place (an upper bound
    // while a place leaves that state).
    std::atomic<uint32_t> queued{0};
    std::atomic<uint64_t> ticket{0};
    std::atomic<uint32_t> done{0};  // chunks of the current batch finished
    // The current batch (invariants 1 and 2).
    int dirFd = -1;
    const DirectoryReader::Listing* listing = nullptr;
    size_t first = 0;
    size_t count = 0;
    EntryFacts* out = nullptr;
};

class StatHelpers::Statter final : public EntryStatter {
  public:
    Statter(StatHelpers& helpers, Slot& slot) : helpers_(helpers), slot_(slot) {}

    size_t batchSize() const override { return kBatch; }

    void statEntries(int dirFd, const DirectoryReader::Listing& listing, size_t first, size_t count,
                     EntryFacts* out) override {
        assert(count >= 1 && count <= kBatch);
        if (count <= kInline) {
            statEachEntry(helpers_.reader_, dirFd, listing, first, count, out);
            return;
        }
        const auto chunks = static_cast<uint32_t>((count + kChunk - 1) / kChunk);
        helpers_.publish(slot_, dirFd, listing, first, count, out);
        helpers_.workOn(slot_);
        auto allDone = [&] { return slot_.done.load(std::memory_order_acquire) == chunks; };
        if (!spinUntil(allDone, kWalkerSpin)) {
            // A helper is still in a stat (a slow disk): sleep until the last chunk is done.
            for (uint32_t seen = slot_.done.load(std::memory_order_acquire); seen != chunks;
                 seen = slot_.done.load(std::memory_order_acquire)) {
                slot_.done.wait(seen, std::memory_order_acquire);
            }
        }
    }

  private:
    StatHelpers& helpers_;
    Slot& slot_;
};

StatHelpers::StatHelpers(DirectoryReader& reader, int helpers, size_t walkers,
                         const std::atomic<bool>* cancelled, Descent descent)
    : reader_(reader),
      cancelled_(cancelled),
      descent_(descent),
      slots_(std::make_unique<Slot[]>(walkers)),
      slotCount_(walkers) {
    for (int i = 0; i < helpers; ++i) {
        threads_.emplace_back([this] { serve(); });
    }
}

StatHelpers::~StatHelpers() {
    stop();
    for (auto& thread : threads_) {
        thread.join();
    }
}

void StatHelpers::serve() {
    helperLoop(nextFirst_.fetch_add(1, std::memory_order_relaxed));
}

void StatHelpers::stop() {
    stop_.store(true, std::memory_order_seq_cst);
    epoch_.fetch_add(1, std::memory_order_seq_cst);
    epoch_.notify_all();
}

std::unique_ptr<EntryStatter> StatHelpers::makeStatter(size_t slot) {
    assert(slot < slotCount_);
    return std::make_unique<Statter>(*this, slots_[slot]);
}

void StatHelpers::publish(Slot& slot, int dirFd, const DirectoryReader::Listing& listing,
                          size_t first, size_t count, EntryFacts* out) {
    slot.dirFd = dirFd;
    slot.listing = &listing;
    slot.first = first;
    slot.count = count;
    slot.out = out;
    slot.done.store(0, std::memory_order_relaxed);
    Ticket ticket = Ticket::decode(slot.ticket.load(std::memory_order_relaxed));
    ticket.generation += 1;
    ticket.chunks = static_cast<uint32_t>((count + kChunk - 1) / kChunk);
    ticket.next = 0;
    slot.ticket.store(ticket.encode(), std::memory_order_seq_cst);
    wake();
}

void StatHelpers::wake() {
    // A helper reads epoch_ before it counts itself a sleeper and looks for work once more, so
    // either it sees the new work or its wait returns at once; see helperLoop().
    epoch_.fetch_add(1, std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_seq_cst) > 0) {
        epoch_.notify_all();
    }
}

bool StatHelpers::workOn(Slot& slot) {
    bool worked = false;
    uint64_t value = slot.ticket.load(std::memory_order_acquire);
    for (;;) {
        Ticket ticket = Ticket::decode(value);
        if (ticket.next >= ticket.chunks) {
            return worked;
        }
        Ticket claimed = ticket;
        claimed.next += 1;
        if (!slot.ticket.compare_exchange_weak(value, claimed.encode(), std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
            continue;  // value now holds the current ticket
        }
        // The batch cannot change until this chunk is counted done (invariant 1).
        const size_t begin = size_t{ticket.next} * kChunk;
        const size_t end = std::min(slot.count, begin + kChunk);
        statEachEntry(reader_, slot.dirFd, *slot.listing, slot.first + begin, end - begin,
                      slot.out + begin);
        if (slot.done.fetch_add(1, std::memory_order_acq_rel) + 1 == ticket.chunks) {
            slot.done.notify_one();
        }
        worked = true;
        value = slot.ticket.load(std::memory_order_acquire);
    }
}

bool StatHelpers::anyWork() const {
    for (size_t i = 0; i < slotCount_; ++i) {
        const Ticket ticket = Ticket::decode(slots_[i].ticket.load(std::memory_order_seq_cst));
        if (ticket.next < ticket.chunks) {
            return true;
        }
        if (slots_[i].queued.load(std::memory_order_seq_cst) > 0) {
            return true;
        }
    }
    return false;
}

bool StatHelpers::listAhead(Slot& slot) {
    while (slot.queued.load(std::memory_order_acquire) > 0) {
        // A walker takes its folders depth first: the deepest asked for is needed soonest.
        Place* best = nullptr;
        uint64_t bestRank = 0;
        for (Place& place : slot.places) {
            if (place.state.load(std::memory_order_relaxed) != Place::kQueued) {
                continue;
            }
            const uint64_t rank = place.rank.load(std::memory_order_relaxed);
            if (best == nullptr || rank > bestRank) {
                best = &place;
                bestRank = rank;
            }
        }
        if (best == nullptr) {
            return false;
        }
        Place& place = *best;
        uint32_t queued = Place::kQueued;
        if (!place.state.compare_exchange_strong(queued, Place::kRunning,
                                                 std::memory_order_acq_rel)) {
            continue;  // taken by the walker or another helper meanwhile
        }
        slot.queued.fetch_sub(1, std::memory_order_relaxed);
        // A cancelled walk visits no further folder: keep its end as quick as it was.
        auto isCancelled = [this] {
            return cancelled_ != nullptr && cancelled_->load(std::memory_order_acquire);
        };
        place.fd = isCancelled() ? -1 : reader_.openDirectory(place.parentFd, place.name, false);
        place.listed = place.fd >= 0 && reader_.readEntries(place.fd, place.listing);
        const bool wantStats = place.listed && !isCancelled();
        place.facts.resize(wantStats ? std::min(kBatch, place.listing.size()) : 0);
        if (!place.facts.empty()) {
            statEachEntry(reader_, place.fd, place.listing, 0, place.facts.size(),
                          place.facts.data());
        }
        askWithin(slot, static_cast<size_t>(&place - slot.places));
        place.state.store(Place::kDone, std::memory_order_release);
        place.state.notify_all();
        return true;
    }
    return false;
}

void StatHelpers::askWithin(Slot& slot, size_t index) {
    Place& place = slot.places[index];
    place.askedThrough = 0;
    place.asked = 0;
    if (cancelled_ != nullptr && cancelled_->load(std::memory_order_acquire)) {
        return;
    }
    for (size_t j = 0; j < place.facts.size() && place.asked < Lookahead::kAskedPerFolder; ++j) {
        const EntryFacts& entry = place.facts[j];
        if (descent_.covers(place.depth, entry)) {
            const int asked =
                askIn(slot, entry.st.st_ino, place.depth + 1, place.fd, place.listing.name(j));
            if (asked < 0) {
                return;  // every place is taken: the walker asks for the rest itself
            }
            place.askedPlaces[place.asked++] = static_cast<uint8_t>(asked);
        }
        place.askedThrough = j + 1;
    }
}

int StatHelpers::askIn(Slot& slot, uint64_t key, int depth, int parentFd, const char* name) {
    for (size_t i = 0; i < Lookahead::kPlaces; ++i) {
        Place& place = slot.places[i];
        uint32_t free = Place::kFree;
        if (place.state.load(std::memory_order_relaxed) != Place::kFree ||
            !place.state.compare_exchange_strong(free, Place::kAsking, std::memory_order_acquire)) {
            continue;
        }
        const uint64_t number = slot.asks.fetch_add(1, std::memory_order_relaxed);
        place.rank.store((static_cast<uint64_t>(depth) << 40) | (~number & Place::kNumberMask),
                         std::memory_order_relaxed);
        place.key = key;
        place.depth = depth;
        place.parentFd = parentFd;
        place.name = name;
        place.fd = -1;
        place.listed = false;
        slot.queued.fetch_add(1, std::memory_order_seq_cst);
        place.state.store(Place::kQueued, std::memory_order_seq_cst);
        wake();
        return static_cast<int>(i);
    }
    return -1;
}

StatHelpers::Lookahead StatHelpers::lookahead(size_t slot) {
    assert(slot < slotCount_);
    return Lookahead(*this, slots_[slot]);
}

StatHelpers::Lookahead::Lookahead(StatHelpers& helpers, Slot& slot)
    : helpers_(&helpers), slot_(&slot) {
    owned_.reserve(kPlaces);
}

bool StatHelpers::Lookahead::ask(uint64_t key, int depth, int parentFd, const char* name) {
    assert(depth >= 0);
    const int index = helpers_->askIn(*slot_, key, depth + 1, parentFd, name);
    if (index < 0) {
        return false;
    }
    owned_.push_back({key, depth, static_cast<uint32_t>(index)});
    return true;
}

std::span<const uint8_t> StatHelpers::Lookahead::askedIn(uint32_t i) const {
    const Place& place = slot_->places[i];
    return {place.askedPlaces, place.asked};
}

bool StatHelpers::Lookahead::finish(uint32_t i, bool help) {
    Place& place = slot_->places[i];
    uint32_t state = place.state.load(std::memory_order_acquire);
    if (state == Place::kQueued &&
        place.state.compare_exchange_strong(state, Place::kFree, std::memory_order_acq_rel)) {
        slot_->queued.fetch_sub(1, std::memory_order_relaxed);
        return false;  // no helper got to it: the walker is as quick on its own
    }
    // kRunning (a helper is listing it) or kDone. While the helpers are behind, a walker that
    // would wait lists the next folders itself: waiting leaves its CPU idle. While they keep up
    // it only waits, so that it is back on its own work, the slowest of the walk, at once.
    while (help && place.state.load(std::memory_order_acquire) != Place::kDone &&
           slot_->queued.load(std::memory_order_relaxed) >= kHelpWhenQueued &&
           helpers_->listAhead(*slot_)) {
    }
    auto made = [&] {
        return (state = place.state.load(std::memory_order_acquire)) == Place::kDone;
    };
    if (!spinUntil(made, kWalkerSpin)) {
        while (state != Place::kDone) {
            place.state.wait(Place::kRunning, std::memory_order_acquire);
            state = place.state.load(std::memory_order_acquire);
        }
    }
    return true;
}

int StatHelpers::Lookahead::release(uint32_t i) {
    Place& place = slot_->places[i];
    const int fd = place.fd;
    place.state.store(Place::kFree, std::memory_order_release);
    return fd;
}

bool StatHelpers::Lookahead::take(uint64_t key, int depth, Made& made,
                                  DirectoryReader::Listing& listing,
                                  std::vector<EntryFacts>& facts) {
    for (size_t k = 0; k < owned_.size(); ++k) {
        if (owned_[k].key != key || owned_[k].depth != depth) {
            continue;
        }
        const uint32_t i = owned_[k].index;
        owned_[k] = owned_.back();
        owned_.pop_back();
        if (!finish(i, true)) {
            return false;
        }
        Place& place = slot_->places[i];
        made = {place.fd, place.listed, place.askedThrough, place.asked};
        std::swap(listing, place.listing);
        std::swap(facts, place.facts);
        // The folders asked for in it now belong to the walker's listing of it (their names
        // moved with the listing's buffers, their parent is the descriptor handed over).
        for (const uint8_t child : askedIn(i)) {
            owned_.push_back({slot_->places[child].key, depth + 1, child});
        }
        release(i);
        return true;
    }
    return false;
}

void StatHelpers::helperLoop(size_t first) {
    while (!stop_.load(std::memory_order_acquire)) {
        // Stats first: a walker waits for them; a folder listed ahead is needed only later.
        bool worked = false;
        for (size_t i = 0; i < slotCount_; ++i) {
            worked |= workOn(slots_[(first + i) % slotCount_]);
        }
        for (size_t i = 0; i < slotCount_ && !worked; ++i) {
            worked = listAhead(slots_[(first + i) % slotCount_]);
        }
        if (worked || spinUntil([this] { return anyWork() || stop_.load(); }, kHelperSpin)) {
            continue;
        }
        const uint32_t epoch = epoch_.load(std::memory_order_seq_cst);
        sleepers_.fetch_add(1, std::memory_order_seq_cst);
        if (!anyWork() && !stop_.load(std::memory_order_seq_cst)) {
            epoch_.wait(epoch, std::memory_order_seq_cst);
        }
        sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    }
}

}  // namespace cb
