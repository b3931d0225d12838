#pragma once

#include <cstddef>

#include "sdk/measurement/script/APMPRuntimeValue.h"

// A list of values on the caller's stack: the evaluated arguments of one command or call, or
// the copy of a statement list while it runs. Up to kInlineCount values live in the list
// itself, so evaluating a statement allocates no list; a longer list takes one heap block.
// The capacity is fixed when the list is made; the values are appended in order and released
// when the list goes out of scope.
//
// Thread-safety: none; a list belongs to the frame that made it.
class APMPArgumentList {
  public:
    static constexpr std::size_t kInlineCount = 6;

    // An empty list with room for `capacity` values.
    explicit APMPArgumentList(std::size_t capacity);
    APMPArgumentList(const APMPArgumentList&) = delete;
    APMPArgumentList& operator=(const APMPArgumentList&) = delete;
    ~APMPArgumentList();

    // Appends `value`. REQUIRES: size() is below the capacity.
    void push_back(APMPValueRef value);

    std::size_t size() const { return size_; }
    // The values appended so far; valid while the list lives.
    APMPArguments values() const { return {data_, size_}; }

  private:
    // Storage for the inline values, constructed one at a time as they are appended.
    union InlineSlots {
        InlineSlots() {}
        ~InlineSlots() {}
        APMPValueRef values[kInlineCount];
    };

    InlineSlots inline_;
    APMPValueRef* data_;
    std::size_t size_ = 0;
    std::size_t capacity_;
};

// Evaluates each of `arguments` in order in `scope` into `values`, stopping at the first error
// (then `values` holds the arguments evaluated before it). REQUIRES: `values` has room for
// every argument.
void APMPEvaluateArgumentsInto(APMPArguments arguments, const APMPScopeRef& scope,
                               sdk::Error& error, APMPArgumentList& values);
