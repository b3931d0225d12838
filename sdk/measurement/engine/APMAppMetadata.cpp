#include "sdk/measurement/engine/APMAppMetadata.h"

#include <algorithm>
#include <limits>

#include "sdk/measurement/engine/APMMonitor.h"

namespace {

constexpr std::int64_t kIndexLimit = std::int64_t{1} << 31;  // first index that overflows
constexpr std::int64_t kLevel = 5;

}  // namespace

std::optional<APMAppMetadata> APMAppMetadata::create(std::int32_t lastBundleIndex,
                                                     std::int32_t lastDeliveryIndex,
                                                     double lastBundleStartTimestamp,
                                                     double lastBundleEndTimestamp) {
    if (lastBundleIndex < 0) {
        APMMonitor::shared().logWithLevel(
            2, 4000, "Failed to create app metadata object. Received negative last bundle index.");
        return std::nullopt;
    }
    return APMAppMetadata(lastBundleIndex, lastDeliveryIndex, lastBundleStartTimestamp,
                          lastBundleEndTimestamp);
}

void APMAppMetadata::increaseLastBundleIndex(std::int64_t count) {
    // A negative count would number backwards; one of 2^31 or more cannot be numbered.
    count = std::clamp<std::int64_t>(count, 0, kIndexLimit - 1);
    const std::int64_t next = std::int64_t{lastBundleIndex_} + count;
    if (next >= kIndexLimit) {
        APMMonitor::shared().logWithLevel(kLevel, 4001,
                                          "Bundle index overflow. Bundle index wraparound.");
        lastBundleIndex_ = static_cast<std::int32_t>(count - 1);
        return;
    }
    lastBundleIndex_ = static_cast<std::int32_t>(next);
}

void APMAppMetadata::incrementLastDeliveryIndex() {
    lastDeliveryIndex_ =
        lastDeliveryIndex_ >= std::numeric_limits<std::int32_t>::max() ? 0 : lastDeliveryIndex_ + 1;
    if (lastDeliveryIndex_ == 0) {
        APMMonitor::shared().logWithLevel(kLevel, 4002,
                                          "Delivery index overflow. Delivery index reset to 0.");
    }
}
