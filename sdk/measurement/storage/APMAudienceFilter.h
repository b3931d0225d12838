#pragma once

#include <cstdint>
#include <string>

#include "sdk/utilities/Value.h"

// What the stored event and property filters of an audience share: their audience and filter
// IDs, the internal name they apply to, their encoded filter message, and how their result is
// kept: per session, re-evaluated on every change (dynamic), or as a step of a sequence. Made
// only as one of the two; a plain value; any thread.
class APMAudienceFilter {
  public:
    std::int32_t audienceID() const { return audienceID_; }
    std::int32_t filterID() const { return filterID_; }
    const sdk::Bytes& data() const { return data_; }
    bool isSessionScoped() const { return sessionScoped_; }
    bool isDynamic() const { return dynamic_; }
    bool isSequence() const { return sequence_; }

    bool operator==(const APMAudienceFilter&) const = default;

  protected:
    APMAudienceFilter(std::int32_t audienceID, std::int32_t filterID, std::string name,
                      sdk::Bytes data, bool sessionScoped, bool dynamic, bool sequence)
        : audienceID_(audienceID),
          filterID_(filterID),
          name_(std::move(name)),
          data_(std::move(data)),
          sessionScoped_(sessionScoped),
          dynamic_(dynamic),
          sequence_(sequence) {}

    const std::string& name() const { return name_; }

  private:
    std::int32_t audienceID_;
    std::int32_t filterID_;
    std::string name_;
    sdk::Bytes data_;
    bool sessionScoped_;
    bool dynamic_;
    bool sequence_;
};
