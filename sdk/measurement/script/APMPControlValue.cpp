#include "sdk/measurement/script/APMPControlValue.h"

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"

const APMPValueRef& APMPControlValue::breakValue() {
    static const APMPValueRef& instance = *new APMPValueRef(APMPPermanentValue(
        new APMPControlValue(APMPControlType::kBreak, APMPUndefined())));  // lives for the process
    return instance;
}

const APMPValueRef& APMPControlValue::continueValue() {
    static const APMPValueRef& instance = *new APMPValueRef(APMPPermanentValue(new APMPControlValue(
        APMPControlType::kContinue, APMPUndefined())));  // lives for the process
    return instance;
}

APMPValueRef APMPControlValue::returnValueWithData(APMPValueRef data) {
    return std::make_shared<APMPControlValue>(APMPControlType::kReturn,
                                              data ? std::move(data) : APMPUndefined());
}

bool APMPControlValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                      int depth) const {
    if (this == &other) {
        return true;
    }
    if (other.kind() != APMPValueKind::kControl) {
        return false;
    }
    if (!APMPDepthAllowed(depth)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return false;
    }
    const auto& theirs = static_cast<const APMPControlValue&>(other);
    return theirs.type_ == type_ && data_->isEqualAtDepth(*theirs.data_, error, depth + 1);
}

void APMPControlValue::markReferences(APMPMarker& marker) const {
    marker.mark(data_.get());
}

void APMPControlValue::releaseReferences(Released& released) {
    // The shared break and continue carry the shared undefined: nothing to break there.
    if (type_ == APMPControlType::kReturn && data_) {
        APMPRelease(released, std::move(data_));
        data_ = APMPUndefined();
    }
}
