#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "sdk/utilities/Error.h"

// The limits that keep a program from hanging or exhausting the process: an instruction
// budget, a cap on live script memory and a cap on nesting depth. One budget belongs to one
// runtime (through its object manager); every value that accounts memory holds it.
//
// Invariants:
//  1. 0 <= instructionCount() <= kMaxInstructions.
//  2. bytesInUse() <= kMaxBytes: a reservation that would pass the cap fails before anything
//     is allocated.
//  3. 0 <= depth() <= kMaxDepth.
//
// Thread-safety: none; a budget belongs to the thread that runs its runtime.
class APMPRuntimeBudget {
  public:
    static constexpr std::int32_t kMaxInstructions = 1000000;
    static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
    static constexpr int kMaxDepth = 1000;

    // Pays one evaluation step: error 18 once kMaxInstructions steps were paid since the last
    // reset, else success.
    sdk::Error countInstruction();
    std::int32_t instructionCount() const { return instructions_; }
    void resetInstructionCount() { instructions_ = 0; }

    // Reserves `bytes` of live script memory: error 18 (and nothing reserved) when the total
    // would pass kMaxBytes.
    sdk::Error reserveBytes(double bytes);
    // Returns a reservation. REQUIRES: `bytes` were reserved and not yet released.
    void releaseBytes(std::size_t bytes);
    std::size_t bytesInUse() const { return bytes_; }

    // Enters one nesting level: error 18 past kMaxDepth (then nothing was entered).
    sdk::Error enterLevel();
    // REQUIRES: a level was entered.
    void leaveLevel();
    int depth() const { return depth_; }

  private:
    std::int32_t instructions_ = 0;
    std::size_t bytes_ = 0;
    int depth_ = 0;
};

// Enters a level of `budget` for its own lifetime; `error()` says whether entering failed.
// A null budget has no depth to count.
class APMPDepthGuard {
  public:
    explicit APMPDepthGuard(APMPRuntimeBudget* budget);
    APMPDepthGuard(const APMPDepthGuard&) = delete;
    APMPDepthGuard& operator=(const APMPDepthGuard&) = delete;
    ~APMPDepthGuard();

    const sdk::Error& error() const { return error_; }

  private:
    APMPRuntimeBudget* budget_;
    sdk::Error error_;
};

// True when a walk that has descended `depth` levels may go one level deeper.
inline bool APMPDepthAllowed(int depth) {
    return depth < APMPRuntimeBudget::kMaxDepth;
}

// The live memory one value accounts against a budget; released when the value dies. A value
// without a budget (host-made, outside any runtime) accounts nothing.
class APMPMemoryReservation {
  public:
    APMPMemoryReservation() = default;
    explicit APMPMemoryReservation(std::shared_ptr<APMPRuntimeBudget> budget)
        : budget_(std::move(budget)) {}
    APMPMemoryReservation(const APMPMemoryReservation&) = delete;
    APMPMemoryReservation& operator=(const APMPMemoryReservation&) = delete;
    ~APMPMemoryReservation();

    // Changes the reservation to `bytes`: error 18 (and no change) when growing would pass the
    // budget's cap. Call before allocating.
    sdk::Error resize(double bytes);

    // Accounts against `budget` from now on. REQUIRES: nothing is reserved yet.
    void attach(std::shared_ptr<APMPRuntimeBudget> budget);

    const std::shared_ptr<APMPRuntimeBudget>& budget() const { return budget_; }
    std::size_t bytes() const { return bytes_; }

  private:
    std::shared_ptr<APMPRuntimeBudget> budget_;
    std::size_t bytes_ = 0;
};
