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

void APMPReleaseAll(APMPMarkable::Released& released) {
    while (!released.empty()) {
        std::shared_ptr<APMPMarkable> last = std::move(released.back());
        released.pop_back();
        if (last && last.use_count() == 1) {
            last->releaseReferences(released);
        }
    }
}
