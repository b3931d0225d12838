#include "sdk/measurement/script/APMPArgumentList.h"

#include <cassert>
#include <memory>

#include "sdk/measurement/script/APMPEvaluator.h"

APMPArgumentList::APMPArgumentList(std::size_t capacity)
    : data_(capacity <= kInlineCount ? inline_.values
                                     : std::allocator<APMPValueRef>().allocate(capacity)),
      capacity_(capacity) {}

APMPArgumentList::~APMPArgumentList() {
    std::destroy_n(data_, size_);
    if (data_ != inline_.values) {
        std::allocator<APMPValueRef>().deallocate(data_, capacity_);
    }
}

void APMPArgumentList::push_back(APMPValueRef value) {
    assert(size_ < capacity_);
    std::construct_at(data_ + size_, std::move(value));
    ++size_;
}

void APMPEvaluateArgumentsInto(APMPArguments arguments, const APMPScopeRef& scope,
                               sdk::Error& error, APMPArgumentList& values) {
    for (const auto& argument : arguments) {
        values.push_back(APMPEvaluator::evaluateStatement(argument, scope, error));
        if (!error.ok()) {
            return;
        }
    }
}
