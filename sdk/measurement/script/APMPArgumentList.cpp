#include "sdk/measurement/script/APMPArgumentList.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace {

// Enough spare lists for deep nesting; a longer list than kMaxKeptCapacity (a call with many
// arguments) is freed rather than kept.
constexpr std::size_t kMaxSpareLists = 256;
constexpr std::size_t kMaxKeptCapacity = 32;

std::vector<APMPValueList>& spareLists() {
    thread_local std::vector<APMPValueList> spares;
    return spares;
}

}  // namespace

APMPArgumentList::APMPArgumentList() {
    auto& spares = spareLists();
    if (!spares.empty()) {
        values_ = std::move(spares.back());
        spares.pop_back();
    }
}

APMPArgumentList::~APMPArgumentList() {
    // The references go now, not when the list is next borrowed.
    values_.clear();
    auto& spares = spareLists();
    if (values_.capacity() != 0 && values_.capacity() <= kMaxKeptCapacity &&
        spares.size() < kMaxSpareLists) {
        spares.push_back(std::move(values_));
    }
}
