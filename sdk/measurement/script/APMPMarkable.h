#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class APMPMarkable;
class APMPMarker;

// A work list of references to drop (see APMPRelease() and APMPReleaseAll()), taken in the
// reverse order of their adding. The first few sit in the list itself, so emptying an object
// that holds a handful of last references (a function its scope, a scope its parent) allocates
// nothing.
class APMPReleaseList {
  public:
    APMPReleaseList() {}
    APMPReleaseList(const APMPReleaseList&) = delete;
    APMPReleaseList& operator=(const APMPReleaseList&) = delete;
    // Drops whatever is left.
    ~APMPReleaseList();

    bool empty() const { return count_ == 0 && spilled_.empty(); }
    void push_back(std::shared_ptr<APMPMarkable> reference);
    // Takes the reference added last. REQUIRES: !empty().
    std::shared_ptr<APMPMarkable> pop();

  private:
    static constexpr std::size_t kInlineCount = 4;

    // Storage for the inline references, constructed one at a time as they are added.
    union InlineSlots {
        InlineSlots() {}
        ~InlineSlots() {}
        std::shared_ptr<APMPMarkable> references[kInlineCount];
    };

    InlineSlots inline_;
    std::size_t count_ = 0;
    // The references added while the inline slots were full.
    std::vector<std::shared_ptr<APMPMarkable>> spilled_;
};

// Something the collector can walk: runtime values, scopes and any further root (the editing
// layer's callback handler). Ownership is ordinary shared ownership through the references
// objects hold to one another; the collector only breaks the references of objects no root
// reaches, so that cycles free.
//
// Neither marking nor releasing recurses: both go through explicit work lists, so a chain of
// any length is walked and freed in constant stack.
class APMPMarkable {
  public:
    using Released = APMPReleaseList;

    APMPMarkable() = default;
    APMPMarkable(const APMPMarkable&) = delete;
    APMPMarkable& operator=(const APMPMarkable&) = delete;
    virtual ~APMPMarkable() = default;

    // True for objects that can reference others (arrays, maps, functions, statements, control
    // values, scopes). Only these are stamped by marking, so the shared scalars are never
    // written to.
    virtual bool holdsReferences() const { return false; }

    // Hands every object this one references to `marker`. Scalars reference nothing.
    virtual void markReferences(APMPMarker& marker) const { (void)marker; }

    // Moves every reference this object holds into `released`, leaving it empty.
    virtual void releaseReferences(Released& released) { (void)released; }

    // The collection in which this object was last marked (0: never).
    std::uint64_t markEpoch() const { return markEpoch_; }

  private:
    friend class APMPMarker;
    std::uint64_t markEpoch_ = 0;
};

// One marking pass: visits each object reachable from the roots once, stamping it with the
// pass's epoch. Objects stay alive during the pass because the roots hold them.
class APMPMarker {
  public:
    explicit APMPMarker(std::uint64_t epoch) : epoch_(epoch) {}

    // Queues `object` unless it is null or already marked in this pass.
    void mark(const APMPMarkable* object);

    // Walks everything queued, and everything it references, until nothing is left.
    void run();

  private:
    std::uint64_t epoch_;
    std::vector<const APMPMarkable*> pending_;
};

// Hands `reference` to `released`, or drops it at once where that cannot recurse: it is not the
// last reference (or owns nothing, as the shared instances' references do), or its object
// references nothing. A list stays short (and unallocated) when an object that is mostly
// referenced elsewhere, or holds only scalars, is emptied.
template <typename T>
void APMPRelease(APMPMarkable::Released& released, std::shared_ptr<T>&& reference) {
    if (!reference) {
        return;
    }
    if (reference.use_count() != 1 || !reference->holdsReferences()) {
        reference.reset();
        return;
    }
    released.push_back(std::move(reference));
}

// Drops the references in `released` without recursing: an object whose last reference is in
// the list first moves its own references into the list, so its destructor finds it empty.
void APMPReleaseAll(APMPMarkable::Released& released);
