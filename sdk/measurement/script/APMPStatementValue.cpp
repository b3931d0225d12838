#include "sdk/measurement/script/APMPStatementValue.h"

#include "sdk/measurement/script/APMPCommandRegistrar.h"

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"

APMPStatementParts::APMPStatementParts(std::u16string functionName, APMPValueList arguments)
    : functionName_(std::move(functionName)),
      arguments_(std::move(arguments)),
      command_(APMPCommandRegistrar::sharedInstance().commandForName(functionName_)) {}

APMPStatementValue::APMPStatementValue(std::u16string functionName, APMPValueList arguments)
    : APMPRuntimeValue(APMPValueKind::kStatement),
      APMPStatementParts(std::move(functionName), std::move(arguments)) {}

APMPStatementValue::~APMPStatementValue() {
    Released released;
    APMPStatementValue::releaseReferences(released);
    APMPReleaseAll(released);
}

bool APMPStatementValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                        int depth) const {
    if (this == &other) {
        return true;
    }
    if (other.kind() != APMPValueKind::kStatement) {
        return false;
    }
    if (!APMPDepthAllowed(depth)) {
        error = APMPError(APMPErrorCode::kLimitExceeded);
        return false;
    }
    const auto& theirs = static_cast<const APMPStatementValue&>(other);
    if (theirs.functionName_ != functionName_ || theirs.arguments_.size() != arguments_.size()) {
        return false;
    }
    for (std::size_t i = 0; i < arguments_.size(); ++i) {
        if (!arguments_[i]->isEqualAtDepth(*theirs.arguments_[i], error, depth + 1) ||
            !error.ok()) {
            return false;
        }
    }
    return true;
}

void APMPStatementValue::markReferences(APMPMarker& marker) const {
    for (const auto& argument : arguments_) {
        marker.mark(argument.get());
    }
}

void APMPStatementValue::releaseReferences(Released& released) {
    for (auto& argument : arguments_) {
        APMPRelease(released, std::move(argument));
    }
    arguments_.clear();
}
