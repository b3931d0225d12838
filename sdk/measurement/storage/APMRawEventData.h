#pragma once

#include <cstdint>
#include <optional>

#include "sdk/measurement/engine/APMEvent.h"

// One stored raw event: the event, its row in "raw_events" (0 before it is stored) and the
// fingerprint of the bundle metadata it was logged with. A plain value.
class APMRawEventData {
  public:
    // No value for a missing event (28000) or a negative row ID (28001), both logged at
    // level 4.
    static std::optional<APMRawEventData> initWithRawEvent(const APMEvent* rawEvent,
                                                           std::int64_t rowID,
                                                           std::int64_t metadataFingerprint);

    const APMEvent& rawEvent() const { return rawEvent_; }
    std::int64_t rowID() const { return rowID_; }
    std::int64_t metadataFingerprint() const { return metadataFingerprint_; }

  private:
    APMRawEventData(APMEvent rawEvent, std::int64_t rowID, std::int64_t metadataFingerprint)
        : rawEvent_(std::move(rawEvent)),
          rowID_(rowID),
          metadataFingerprint_(metadataFingerprint) {}

    APMEvent rawEvent_;
    std::int64_t rowID_;
    std::int64_t metadataFingerprint_;
};
