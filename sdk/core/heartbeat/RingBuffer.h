#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace heartbeat {

// The failure of RingBuffer::push on a ring whose tail index lies outside its slots (only a
// decoded ring can have one).
struct RingBufferError {
    std::int64_t pushIndex = 0;  // the tail index at the failed push
    std::int64_t endIndex = 0;   // the slot count

    // "Out-of-bounds push at index <pushIndex> to ring buffer withend index of <endIndex>."
    // (the two halves of the sentence are joined without a blank, and stored files carry it).
    std::string description() const;

    bool operator==(const RingBufferError&) const = default;
};

// A fixed number of slots written in a circle: `push` writes the slot at the tail index and
// moves the tail on, wrapping at the end; `pop` moves it back and empties that slot.
//
// Invariants (kept by push and pop; a decoded ring may break the second):
//  1. The slot count never changes after construction.
//  2. 0 <= tailIndex < slot count whenever the slot count is positive.
// A decoded ring that breaks (2) refuses `push` with RingBufferError, and its `pop` returns
// nothing and changes nothing when the tail is beyond the slots, so no access leaves the ring.
//
// Traversal yields the occupied slots from slot 0 upward; after the ring has wrapped that is
// not the order of insertion.
//
// A plain value; not thread-safe.
template <typename Element>
class RingBuffer {
  public:
    using Slots = std::vector<std::optional<Element>>;

    // The outcome of `push`: the element the push overwrote (none when the slot was empty),
    // or the failure, in which case the ring is unchanged.
    struct PushResult {
        std::optional<Element> overwritten;
        std::optional<RingBufferError> error;
        bool ok() const { return !error.has_value(); }
    };

    // `capacity` empty slots, tail index 0.
    explicit RingBuffer(std::size_t capacity) : circularQueue_(capacity) {}

    // A ring as stored: the slots and the tail index, unchecked (see the invariants).
    RingBuffer(Slots circularQueue, std::int64_t tailIndex)
        : circularQueue_(std::move(circularQueue)), tailIndex_(tailIndex) {}

    const Slots& circularQueue() const { return circularQueue_; }
    std::int64_t tailIndex() const { return tailIndex_; }

    // Writes `element` into the slot at the tail index and moves the tail on. A ring without
    // slots stores nothing and succeeds.
    PushResult push(Element element) {
        const auto count = slotCount();
        if (count == 0) {
            return {};
        }
        if (tailIndex_ < 0 || tailIndex_ >= count) {
            return {std::nullopt, RingBufferError{tailIndex_, count}};
        }
        auto& slot = circularQueue_[static_cast<std::size_t>(tailIndex_)];
        PushResult result{std::exchange(slot, std::move(element)), std::nullopt};
        tailIndex_ = tailIndex_ + 1 == count ? 0 : tailIndex_ + 1;
        return result;
    }

    // Moves the tail back one slot (wrapping), empties that slot and returns what it held; the
    // tail moves even when the slot was empty. Returns none without a change for a ring without
    // slots and for a decoded tail beyond the slots (or the smallest 64-bit value), which could
    // not be moved back into the ring.
    std::optional<Element> pop() {
        const auto count = slotCount();
        if (count == 0 || tailIndex_ > count ||
            tailIndex_ == std::numeric_limits<std::int64_t>::min()) {
            return std::nullopt;
        }
        --tailIndex_;
        if (tailIndex_ < 0) {
            tailIndex_ = count - 1;
        }
        return std::exchange(circularQueue_[static_cast<std::size_t>(tailIndex_)], std::nullopt);
    }

    // Forward iteration over the occupied slots, slot 0 first.
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Element;
        using difference_type = std::ptrdiff_t;
        using pointer = const Element*;
        using reference = const Element&;

        const_iterator() = default;
        reference operator*() const { return **it_; }
        pointer operator->() const { return &**it_; }
        const_iterator& operator++() {
            ++it_;
            skipEmpty();
            return *this;
        }
        const_iterator operator++(int) {
            auto before = *this;
            ++*this;
            return before;
        }
        bool operator==(const const_iterator& other) const { return it_ == other.it_; }

      private:
        friend class RingBuffer;
        using Inner = typename Slots::const_iterator;
        const_iterator(Inner it, Inner end) : it_(it), end_(end) { skipEmpty(); }
        void skipEmpty() {
            while (it_ != end_ && !it_->has_value()) {
                ++it_;
            }
        }
        Inner it_{};
        Inner end_{};
    };

    const_iterator begin() const {
        return const_iterator(circularQueue_.begin(), circularQueue_.end());
    }
    const_iterator end() const {
        return const_iterator(circularQueue_.end(), circularQueue_.end());
    }

    bool operator==(const RingBuffer&) const = default;

  private:
    std::int64_t slotCount() const { return static_cast<std::int64_t>(circularQueue_.size()); }

    Slots circularQueue_;
    std::int64_t tailIndex_ = 0;
};

}  // namespace heartbeat
