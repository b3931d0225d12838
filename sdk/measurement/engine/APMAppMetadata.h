#pragma once

#include <cstdint>
#include <optional>

// The bundle bookkeeping of the measurement database's one app-metadata row: how many events
// and deliveries were bundled so far and the time span of the last bundle (seconds since 1970).
// A plain value; bundling advances it on the worker queue.
//
// Invariant: lastBundleIndex() >= 0 and lastDeliveryIndex() >= 0 for a record made by create()
// and advanced by the two counters below, which wrap instead of overflowing.
class APMAppMetadata {
  public:
    APMAppMetadata(std::int32_t lastBundleIndex, std::int32_t lastDeliveryIndex,
                   double lastBundleStartTimestamp, double lastBundleEndTimestamp)
        : lastBundleIndex_(lastBundleIndex),
          lastDeliveryIndex_(lastDeliveryIndex),
          lastBundleStartTimestamp_(lastBundleStartTimestamp),
          lastBundleEndTimestamp_(lastBundleEndTimestamp) {}

    // The checked form: no value, with monitor 4000 (level 2), for a negative bundle index.
    static std::optional<APMAppMetadata> create(std::int32_t lastBundleIndex,
                                                std::int32_t lastDeliveryIndex,
                                                double lastBundleStartTimestamp,
                                                double lastBundleEndTimestamp);
    // The same with delivery index 0.
    static std::optional<APMAppMetadata> create(std::int32_t lastBundleIndex,
                                                double lastBundleStartTimestamp,
                                                double lastBundleEndTimestamp) {
        return create(lastBundleIndex, 0, lastBundleStartTimestamp, lastBundleEndTimestamp);
    }

    std::int32_t lastBundleIndex() const { return lastBundleIndex_; }
    std::int32_t lastDeliveryIndex() const { return lastDeliveryIndex_; }
    double lastBundleStartTimestamp() const { return lastBundleStartTimestamp_; }
    double lastBundleEndTimestamp() const { return lastBundleEndTimestamp_; }
    void setLastBundleStartTimestamp(double seconds) { lastBundleStartTimestamp_ = seconds; }
    void setLastBundleEndTimestamp(double seconds) { lastBundleEndTimestamp_ = seconds; }

    // Numbers `count` new bundles: the index moves on by `count`; when that reaches 2^31, the
    // numbering starts again from 0 for the new bundles (the index becomes count - 1) and the
    // monitor logs 4001 (level 5). A count outside 0 .. 2^31 - 1 is clamped into it.
    void increaseLastBundleIndex(std::int64_t count);

    // Numbers one delivery: adds 1, wrapping from 2^31 - 1 to 0; a result of 0 logs 4002
    // (level 5).
    void incrementLastDeliveryIndex();

  private:
    std::int32_t lastBundleIndex_;
    std::int32_t lastDeliveryIndex_;
    double lastBundleStartTimestamp_;
    double lastBundleEndTimestamp_;
};
