#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sdk/utilities/Date.h"
#include "sdk/utilities/Value.h"

// The monitor's health sample: one message kept as a uniform random choice among all
// monitorable messages of a period, with the number of messages seen. Persisted as an array of
// exactly four elements: [encoded context (string), population (integer), message key (string),
// start of the sample (date)].
//
// Invariant: population() >= 1 whenever a sample exists.
// Not thread-safe: the monitor touches it on its own queue only.
class APMMonitoringSampledData {
  public:
    // No sample.
    APMMonitoringSampledData() = default;

    // The sample stored as `stored`; a value that is not such an array gives no sample.
    static APMMonitoringSampledData fromStoredValue(const std::optional<sdk::Value>& stored);

    // The array to store, or no value when there is no sample.
    std::optional<sdk::Value> storedValue() const;

    // Counts one message: starts a sample at `now`, or raises the population and with
    // probability 1 / population keeps this message instead of the sampled one (`draw` gives a
    // uniform random integer below its argument).
    template <typename Draw>
    void insertOrUpdate(const std::string& key, const std::string& encodedContext, sdk::Date now,
                        Draw&& draw) {
        if (!sample_) {
            sample_ = Sample{encodedContext, 1, key, now};
            return;
        }
        if (sample_->population < INT64_MAX) {
            ++sample_->population;
        }
        if (draw(sample_->population) == 0) {
            sample_->key = key;
            sample_->encodedContext = encodedContext;
        }
    }

    bool hasSample() const { return sample_.has_value(); }
    std::int64_t population() const { return sample_ ? sample_->population : 0; }
    const std::string& key() const { return sample_->key; }
    const std::string& encodedContext() const { return sample_->encodedContext; }
    sdk::Date startDate() const { return sample_->start; }

    void clear() { sample_.reset(); }

  private:
    struct Sample {
        std::string encodedContext;
        std::int64_t population = 0;
        std::string key;
        sdk::Date start;
    };
    std::optional<Sample> sample_;
};
