#include "sdk/measurement/script/APMPMarkable.h"

void APMPMarker::mark(const APMPMarkable* object) {
    if (object == nullptr || !object->holdsReferences() || object->markEpoch_ == epoch_) {
        return;
    }
    // The stamp is bookkeeping of the collector, not part of the object's value.
    const_cast<APMPMarkable*>(object)->markEpoch_ = epoch_;
    pending_.push_back(object);
}

void APMPMarker::run() {
    while (!pending_.empty()) {
        const APMPMarkable* object = pending_.back();
        pending_.pop_back();
        object->markReferences(*this);
    }
}

APMPReleaseList::~APMPReleaseList() {
    std::destroy_n(inline_.references, count_);
}

void APMPReleaseList::push_back(std::shared_ptr<APMPMarkable> reference) {
    if (count_ < kInlineCount && spilled_.empty()) {
        std::construct_at(inline_.references + count_, std::move(reference));
        ++count_;
        return;
    }
    spilled_.push_back(std::move(reference));
}

std::shared_ptr<APMPMarkable> APMPReleaseList::pop() {
    if (!spilled_.empty()) {
        std::shared_ptr<APMPMarkable> last = std::move(spilled_.back());
        spilled_.pop_back();
        return last;
    }
    --count_;
    std::shared_ptr<APMPMarkable> last = std::move(inline_.references[count_]);
    std::destroy_at(inline_.references + count_);
    return last;
}

void APMPReleaseAll(APMPMarkable::Released& released) {
    while (!released.empty()) {
        std::shared_ptr<APMPMarkable> last = released.pop();
        if (last && last.use_count() == 1) {
            last->releaseReferences(released);
        }
    }
}
