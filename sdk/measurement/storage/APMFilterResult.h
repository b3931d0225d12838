#pragma once

#include <cstdint>

#include "sdk/utilities/Value.h"

// The stored evaluation state of one audience: the encoded result data of the current bundle
// and of the previous one (empty when there is none). A plain value; any thread.
class APMFilterResult {
  public:
    APMFilterResult(std::int32_t audienceID, sdk::Bytes currentResults, sdk::Bytes previousResults)
        : audienceID_(audienceID),
          currentResults_(std::move(currentResults)),
          previousResults_(std::move(previousResults)) {}

    std::int32_t audienceID() const { return audienceID_; }
    const sdk::Bytes& currentResults() const { return currentResults_; }
    const sdk::Bytes& previousResults() const { return previousResults_; }

    bool operator==(const APMFilterResult&) const = default;

  private:
    std::int32_t audienceID_;
    sdk::Bytes currentResults_;
    sdk::Bytes previousResults_;
};
