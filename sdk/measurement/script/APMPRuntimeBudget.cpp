#include "sdk/measurement/script/APMPRuntimeBudget.h"

#include <cassert>

#include "sdk/measurement/script/APMPError.h"

sdk::Error APMPRuntimeBudget::countInstruction() {
    if (instructions_ >= kMaxInstructions) {
        return APMPError(APMPErrorCode::kLimitExceeded);
    }
    ++instructions_;
    return {};
}

sdk::Error APMPRuntimeBudget::reserveBytes(double bytes) {
    // A double, so that a size computed from a script's number cannot wrap around.
    if (!(bytes >= 0) || bytes > static_cast<double>(kMaxBytes - bytes_)) {
        return APMPError(APMPErrorCode::kLimitExceeded);
    }
    bytes_ += static_cast<std::size_t>(bytes);
    assert(bytes_ <= kMaxBytes);
    return {};
}

void APMPRuntimeBudget::releaseBytes(std::size_t bytes) {
    assert(bytes <= bytes_);
    bytes_ -= bytes;
}

sdk::Error APMPRuntimeBudget::enterLevel() {
    if (depth_ >= kMaxDepth) {
        return APMPError(APMPErrorCode::kLimitExceeded);
    }
    ++depth_;
    return {};
}

void APMPRuntimeBudget::leaveLevel() {
    assert(depth_ > 0);
    --depth_;
}

APMPDepthGuard::APMPDepthGuard(APMPRuntimeBudget* budget) : budget_(budget) {
    if (budget_ == nullptr) {
        return;
    }
    error_ = budget_->enterLevel();
    if (!error_.ok()) {
        budget_ = nullptr;
    }
}

APMPDepthGuard::~APMPDepthGuard() {
    if (budget_ != nullptr) {
        budget_->leaveLevel();
    }
}

APMPMemoryReservation::~APMPMemoryReservation() {
    if (budget_) {
        budget_->releaseBytes(bytes_);
    }
}

sdk::Error APMPMemoryReservation::resize(double bytes) {
    if (!budget_) {
        return {};
    }
    if (bytes > static_cast<double>(bytes_)) {
        sdk::Error error = budget_->reserveBytes(bytes - static_cast<double>(bytes_));
        if (!error.ok()) {
            return error;
        }
    } else {
        budget_->releaseBytes(bytes_ - static_cast<std::size_t>(bytes));
    }
    bytes_ = static_cast<std::size_t>(bytes);
    return {};
}

void APMPMemoryReservation::attach(std::shared_ptr<APMPRuntimeBudget> budget) {
    assert(bytes_ == 0);
    budget_ = std::move(budget);
}
