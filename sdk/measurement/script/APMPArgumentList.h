#pragma once

#include "sdk/measurement/script/APMPRuntimeValue.h"

// A list for the evaluated arguments of one command, borrowed from a per-thread pool of spare
// lists and given back (emptied) when it goes out of scope: evaluating a statement then
// allocates no list of its own, once the pool holds as many lists as the deepest nesting used.
//
// Thread-safety: a list belongs to the thread that made it (each thread has its own pool).
class APMPArgumentList {
  public:
    APMPArgumentList();
    APMPArgumentList(const APMPArgumentList&) = delete;
    APMPArgumentList& operator=(const APMPArgumentList&) = delete;
    ~APMPArgumentList();

    // Empty when the list is made.
    APMPValueList& values() { return values_; }

  private:
    APMPValueList values_;
};
