#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The running numbers of one internal event name, one row of the measurement database's
// "events" table: how often it was logged over the app's lifetime, in the current bundle and
// in the current session, when it was last logged and bundled, and the last sampling decision.
// Used on the worker queue only; no locking.
class APMEventAggregates {
  public:
    // A record with a valid internal event name and counts that are not negative (else 17000);
    // none otherwise. Sampling rate 1, not exempt, nothing bundled yet.
    static std::optional<APMEventAggregates> initWithName(std::string_view name,
                                                          std::int32_t lifetimeCount,
                                                          std::int32_t currentBundleCount,
                                                          std::int32_t currentSessionCount,
                                                          double lastFireTimestamp);

    // The record as stored, without checks (the store read it back from its own rows).
    APMEventAggregates(std::string name, std::int32_t lifetimeCount,
                       std::int32_t currentBundleCount, std::int32_t currentSessionCount,
                       double lastFireTimestamp)
        : name_(std::move(name)),
          lifetimeCount_(lifetimeCount),
          currentBundleCount_(currentBundleCount),
          currentSessionCount_(currentSessionCount),
          lastFireTimestamp_(lastFireTimestamp) {}

    const std::string& name() const { return name_; }
    std::int32_t lifetimeCount() const { return lifetimeCount_; }
    std::int32_t currentBundleCount() const { return currentBundleCount_; }
    std::int32_t currentSessionCount() const { return currentSessionCount_; }
    double lastFireTimestamp() const { return lastFireTimestamp_; }
    double lastBundledTimestamp() const { return lastBundledTimestamp_; }
    // No value until a complex event was sampled.
    const std::optional<std::int64_t>& lastSampledComplexEventID() const {
        return lastSampledComplexEventID_;
    }
    std::int32_t lastSamplingRate() const { return lastSamplingRate_; }
    bool lastExemptFromSampling() const { return lastExemptFromSampling_; }
    std::int32_t lastBundledDay() const { return lastBundledDay_; }

    // Add one; a count at INT32_MAX wraps to 0 and logs 17001, 17002 or 17003.
    void incrementLifetimeCount();
    void incrementCurrentBundleCount();
    void incrementCurrentSessionCount();

    void setLastFireTimestamp(double value) { lastFireTimestamp_ = value; }
    void setLastBundledTimestamp(double value) { lastBundledTimestamp_ = value; }
    void setLastSampledComplexEventID(std::optional<std::int64_t> value) {
        lastSampledComplexEventID_ = value;
    }
    void setLastSamplingRate(std::int32_t value) { lastSamplingRate_ = value; }
    void setLastExemptFromSampling(bool value) { lastExemptFromSampling_ = value; }
    void setLastBundledDay(std::int32_t value) { lastBundledDay_ = value; }

  private:
    std::string name_;
    std::int32_t lifetimeCount_;
    std::int32_t currentBundleCount_;
    std::int32_t currentSessionCount_;
    double lastFireTimestamp_;
    double lastBundledTimestamp_ = 0.0;
    std::optional<std::int64_t> lastSampledComplexEventID_;
    std::int32_t lastSamplingRate_ = 1;
    bool lastExemptFromSampling_ = false;
    std::int32_t lastBundledDay_ = 0;
};
