#pragma once

#include <cstdint>

// The bundle bookkeeping of the measurement database's one app-metadata row: how many events
// and deliveries were bundled so far and the time span of the last bundle (seconds since 1970).
// A plain value.
class APMAppMetadata {
  public:
    APMAppMetadata(std::int32_t lastBundleIndex, std::int32_t lastDeliveryIndex,
                   double lastBundleStartTimestamp, double lastBundleEndTimestamp)
        : lastBundleIndex_(lastBundleIndex),
          lastDeliveryIndex_(lastDeliveryIndex),
          lastBundleStartTimestamp_(lastBundleStartTimestamp),
          lastBundleEndTimestamp_(lastBundleEndTimestamp) {}

    std::int32_t lastBundleIndex() const { return lastBundleIndex_; }
    std::int32_t lastDeliveryIndex() const { return lastDeliveryIndex_; }
    double lastBundleStartTimestamp() const { return lastBundleStartTimestamp_; }
    double lastBundleEndTimestamp() const { return lastBundleEndTimestamp_; }

  private:
    std::int32_t lastBundleIndex_;
    std::int32_t lastDeliveryIndex_;
    double lastBundleStartTimestamp_;
    double lastBundleEndTimestamp_;
};
