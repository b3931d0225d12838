#include "sdk/measurement/script/APMPRuntimeBudget.h"

#include <cassert>

#include "sdk/measurement/script/APMPError.h"

namespace {

// The active budget's reference, held by the scope being evaluated; null when none is active.
thread_local const std::shared_ptr<APMPRuntimeBudget>* activeBudget = nullptr;

}  // namespace

sdk::Error APMPRuntimeBudget::countInstruction() {
    if (instructions_ >= kMaxInstructions || bytes_ > kMaxBytes) {
        return APMPError(APMPErrorCode::kLimitExceeded);
    }
    ++instructions_;
    return {};
}

sdk::Error APMPRuntimeBudget::chargeSteps(double steps) {
    if (!(steps > 0)) {
        return {};
    }
    const double total = carry_ + steps;
    const double whole = std::floor(total);
    if (whole > static_cast<double>(kMaxInstructions - instructions_)) {
        instructions_ = kMaxInstructions;
        carry_ = 0;
        return APMPError(APMPErrorCode::kLimitExceeded);
    }
    instructions_ += static_cast<std::int32_t>(whole);
    carry_ = total - whole;
    return {};
}

sdk::Error APMPRuntimeBudget::reserveBytes(double bytes) {
    // A double, so that a size computed from a script's number cannot wrap around.
    if (!(bytes >= 0) || bytes_ > kMaxBytes || bytes > static_cast<double>(kMaxBytes - bytes_)) {
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

APMPRuntimeBudget* APMPActiveBudget() {
    return activeBudget != nullptr ? activeBudget->get() : nullptr;
}

const std::shared_ptr<APMPRuntimeBudget>& APMPActiveBudgetReference() {
    static const std::shared_ptr<APMPRuntimeBudget> none;
    return activeBudget != nullptr ? *activeBudget : none;
}

APMPActiveBudgetScope::APMPActiveBudgetScope(const std::shared_ptr<APMPRuntimeBudget>& budget)
    : previous_(activeBudget) {
    activeBudget = budget ? &budget : nullptr;
}

APMPActiveBudgetScope::~APMPActiveBudgetScope() {
    activeBudget = previous_;
}

sdk::Error APMPChargeWork(double units, double unitsPerStep) {
    APMPRuntimeBudget* budget = APMPActiveBudget();
    return budget != nullptr ? budget->chargeWork(units, unitsPerStep) : sdk::Error();
}

sdk::Error APMPChargeSteps(double steps) {
    APMPRuntimeBudget* budget = APMPActiveBudget();
    return budget != nullptr ? budget->chargeSteps(steps) : sdk::Error();
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

void APMPMemoryReservation::account(double bytes) {
    if (!budget_) {
        return;
    }
    const auto target = static_cast<std::size_t>(std::max(bytes, 0.0));
    if (target > bytes_) {
        budget_->accountBytes(target - bytes_);
    } else {
        budget_->releaseBytes(bytes_ - target);
    }
    bytes_ = target;
}

void APMPMemoryReservation::attach(std::shared_ptr<APMPRuntimeBudget> budget) {
    assert(bytes_ == 0);
    budget_ = std::move(budget);
}
