#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/messages/APMPBMessages.h"

// One experiment of a snapshot: its ID and its flags by name. A value: copies are deep and
// independent. Refusals are logged through APMEMonitor (codes 870000-870007, level 2).
//
// Thread-safety: none; a copy is handed to each thread that needs one.
class APMEExperiment {
  public:
    // An experiment with `experimentID` holding `flags` (each added as addFlag does). No ID:
    // 870000 and no experiment.
    static std::optional<APMEExperiment> initWithExperimentID(
        std::optional<std::int64_t> experimentID, const std::vector<APMPBFlag>& flags);
    // The experiment of an Experiment message: its ID (0 when absent) and its flags.
    static APMEExperiment initWithProtobuf(const APMPBExperiment& proto);

    // Adds (or replaces by name) a copy of `flag`. Null: 870004; without a name: 870006; both
    // give false.
    bool addFlag(const APMPBFlag* flag);
    // The flag named `name`; null when absent or for an empty name (870007).
    const APMPBFlag* flagWithName(std::string_view name) const;
    // The flags, by name.
    std::vector<APMPBFlag> flags() const;
    std::int64_t experimentID() const { return experimentID_; }
    // The Experiment message: the ID as an int32 and the flags.
    APMPBExperiment proto() const;

  private:
    explicit APMEExperiment(std::int64_t experimentID) : experimentID_(experimentID) {}

    std::map<std::string, APMPBFlag, std::less<>> flagsByName_;
    std::int64_t experimentID_;
};
