#include "sdk/measurement/storage/APMRawEventData.h"

#include "sdk/measurement/engine/APMMonitor.h"

std::optional<APMRawEventData> APMRawEventData::initWithRawEvent(const APMEvent* rawEvent,
                                                                 std::int64_t rowID,
                                                                 std::int64_t metadataFingerprint) {
    if (rawEvent == nullptr) {
        APMMonitor::shared().logWithLevel(
            4, 28000, "Failed to create raw event data. Received invalid raw event.");
        return std::nullopt;
    }
    if (rowID < 0) {
        APMMonitor::shared().logWithLevel(
            4, 28001, "Failed to create raw event data. Received invalid row ID. Row ID", rowID);
        return std::nullopt;
    }
    return APMRawEventData(*rawEvent, rowID, metadataFingerprint);
}
