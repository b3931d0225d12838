#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "sdk/utilities/Error.h"

// The limits that keep a program from hanging or exhausting the process: an instruction
// budget, a cap on live script memory and a cap on nesting depth. One budget belongs to one
// runtime (through its object manager); every value that accounts memory holds it.
//
// Instructions pay for time. Every evaluation pays one step, and an operation whose work grows
// with what it touches (elements copied or compared, string units copied, scanned or mapped,
// regular-expression matching, callbacks a native method calls) pays for that work too, at
// the rates below: so many units of each kind cost about what one evaluation does, so the
// 1,000,000 steps bound the wall time of any event. Work is paid in fractions of a step that
// add up; small operations barely move the count.
//
// Memory pays for what the allocator really spends: objects with their control blocks,
// buffers at their capacity, map nodes, each rounded as the allocator rounds. Growth that a
// program asks for (text, slots, entries) is checked before it is allocated; the fixed cost of
// a new object is accounted unchecked when it is made, and the next evaluation step fails
// while the total is past the cap.
//
// Invariants:
//  1. 0 <= instructionCount() <= kMaxInstructions.
//  2. A checked reservation never takes bytesInUse() past kMaxBytes; only unchecked object
//     costs can, and then countInstruction() fails until enough is released.
//  3. 0 <= depth() <= kMaxDepth.
//
// Thread-safety: none; a budget belongs to the thread that runs its runtime.
class APMPRuntimeBudget : public std::enable_shared_from_this<APMPRuntimeBudget> {
  public:
    static constexpr std::int32_t kMaxInstructions = 1000000;
    static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
    static constexpr int kMaxDepth = 1000;

    // Work rates: how many units of each kind of work cost one step.
    // String units copied, compared or scanned in one pass.
    static constexpr double kCopiedUnitsPerStep = 128;
    // String units through a search for a text of two or more units.
    static constexpr double kSearchedUnitsPerStep = 16;
    // String units case-mapped, trimmed or read by a regular expression (through the Unicode
    // tables).
    static constexpr double kMappedUnitsPerStep = 16;
    // Array elements copied or moved (each a reference taken, and later released).
    static constexpr double kCopiedElementsPerStep = 4;
    // Array elements looked at or compared.
    static constexpr double kScannedElementsPerStep = 32;
    // Values made in bulk by one operation (the pieces of a split, the keys of an object).
    static constexpr double kObjectsPerStep = 1;
    // Steps for a call of a script function from a native method (a callback of an array
    // method, a comparator, a replacer): a scope, the arguments and the call.
    static constexpr double kStepsPerCallback = 3;
    // Steps for each tick of regular-expression matching (a tick is ICU's unit of match work,
    // ten thousand engine steps).
    static constexpr double kStepsPerRegexTick = 4000;
    // Steps every regular-expression call pays before it matches. ICU reports match work only
    // in whole ticks, so the part of a tick a match ends within (up to a whole tick of
    // backtracking, ~0.1 ms) is never reported: without this a loop of short backtracking
    // matches would run ten seconds on its million steps.
    static constexpr double kStepsPerRegexCall = kStepsPerRegexTick / 8;

    // Pays one evaluation step: error 18 once kMaxInstructions steps were paid since the last
    // reset, or while live memory is past the cap; else success.
    sdk::Error countInstruction();
    // As countInstruction(), answering whether the step was paid.
    bool tryCountInstruction() {
        if (instructions_ >= kMaxInstructions || bytes_ > kMaxBytes) {
            return false;
        }
        ++instructions_;
        return true;
    }
    // Pays `steps` more steps (fractions carried over to the next charge): error 18 when they
    // do not fit, and then the budget is spent.
    sdk::Error chargeSteps(double steps);
    // Pays for `units` of work at `unitsPerStep` (chargeSteps(units / unitsPerStep)).
    sdk::Error chargeWork(double units, double unitsPerStep) {
        return chargeSteps(units / unitsPerStep);
    }
    std::int32_t instructionCount() const { return instructions_; }
    void resetInstructionCount() {
        instructions_ = 0;
        carry_ = 0;
    }

    // Reserves `bytes` of live script memory: error 18 (and nothing reserved) when the total
    // would pass kMaxBytes.
    sdk::Error reserveBytes(double bytes);
    // Accounts `bytes` whatever the total: the fixed cost of an object being made.
    void accountBytes(std::size_t bytes) { bytes_ += bytes; }
    // Returns a reservation. REQUIRES: `bytes` were reserved and not yet released.
    void releaseBytes(std::size_t bytes);
    std::size_t bytesInUse() const { return bytes_; }

    // Enters one nesting level: error 18 past kMaxDepth (then nothing was entered).
    sdk::Error enterLevel();
    // As enterLevel(), answering whether the level was entered.
    bool tryEnterLevel() {
        if (depth_ >= kMaxDepth) {
            return false;
        }
        ++depth_;
        return true;
    }
    // REQUIRES: a level was entered.
    void leaveLevel();
    int depth() const { return depth_; }

  private:
    std::int32_t instructions_ = 0;
    // The fraction of a step paid but not yet counted; 0 <= carry_ < 1.
    double carry_ = 0;
    std::size_t bytes_ = 0;
    int depth_ = 0;
};

// The budget of the runtime that is evaluating on this thread; null when none is. Operations
// deep inside values (conversions, joins, comparisons) pay their work to it.
APMPRuntimeBudget* APMPActiveBudget();
// The same budget as a shared reference, for a value made now that accounts against it (an
// empty reference when none is active).
const std::shared_ptr<APMPRuntimeBudget>& APMPActiveBudgetReference();

// Makes `budget` the active budget for its own lifetime (restoring the one before).
// REQUIRES: the reference `budget` outlives this object (it is held by the evaluated scope).
class APMPActiveBudgetScope {
  public:
    explicit APMPActiveBudgetScope(const std::shared_ptr<APMPRuntimeBudget>& budget);
    APMPActiveBudgetScope(const APMPActiveBudgetScope&) = delete;
    APMPActiveBudgetScope& operator=(const APMPActiveBudgetScope&) = delete;
    ~APMPActiveBudgetScope();

  private:
    const std::shared_ptr<APMPRuntimeBudget>* previous_;
};

// Pays for `units` of work to the active budget (nothing when none is active): error 18 when
// the budget cannot pay.
sdk::Error APMPChargeWork(double units, double unitsPerStep);
// Pays `steps` steps to the active budget.
sdk::Error APMPChargeSteps(double steps);

// What the allocator spends for a block of `bytes`: an 8-byte header, rounded up to 16, at
// least 32.
inline double APMPAllocationBytes(double bytes) {
    // In doubles: a size computed from a script's number may be far past any integer.
    return std::max(32.0, std::ceil((std::max(bytes, 0.0) + 8) / 16) * 16);
}
// The block of an object of `objectBytes` made with std::make_shared (with its control block).
inline double APMPSharedObjectBytes(std::size_t objectBytes) {
    return APMPAllocationBytes(static_cast<double>(objectBytes) + 16);
}
// The heap buffer of a UTF-16 string of `capacity` units (none while it fits in the string
// itself).
inline double APMPTextBufferBytes(std::size_t capacity) {
    return capacity <= 7 ? 0 : APMPAllocationBytes(static_cast<double>(capacity + 1) * 2);
}

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
    // Changes the reservation to `bytes` whatever the cap (the fixed cost of an object).
    void account(double bytes);

    // Accounts against `budget` from now on. REQUIRES: nothing is reserved yet.
    void attach(std::shared_ptr<APMPRuntimeBudget> budget);

    const std::shared_ptr<APMPRuntimeBudget>& budget() const { return budget_; }
    std::size_t bytes() const { return bytes_; }

  private:
    std::shared_ptr<APMPRuntimeBudget> budget_;
    std::size_t bytes_ = 0;
};
