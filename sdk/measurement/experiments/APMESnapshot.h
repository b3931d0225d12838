#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/experiments/APMEExperiment.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// The experiments of one SDK at one time, by experiment ID, with the time they were made or
// stored and whether the SDK's client activates them itself. A value: copies are deep and
// independent. Refusals are logged through APMEMonitor (codes 840000-840004, level 2).
//
// Thread-safety: none; a copy is handed to each thread that needs one.
class APMESnapshot {
  public:
    // A snapshot of `SDKName` holding `experiments` by ID, stamped with the current time. An
    // empty name: 840000 and no snapshot.
    static std::optional<APMESnapshot> initWithSDKName(
        std::string_view SDKName, const std::vector<APMEExperiment>& experiments);
    // The snapshot of a Snapshot message (name from field 1, experiments from field 2); no
    // snapshot when the name is missing or empty.
    static std::optional<APMESnapshot> initWithProtobuf(const APMPBSnapshot& proto);

    // The flag named `name` from the experiment with the smallest ID that has it; null when
    // none has it.
    const APMPBFlag* flagByName(std::string_view name) const;
    // Adds a copy of `flag` to the experiment `experimentID`, made when absent. No ID: 840003;
    // a null flag: 840004; a flag the experiment refuses: false.
    bool addFlag(const APMPBFlag* flag, std::optional<std::int64_t> experimentID);
    // addFlag for each flag; false when one was refused (the others are added).
    bool addFlags(const std::vector<APMPBFlag>& flags, std::optional<std::int64_t> experimentID);
    // The experiments in ascending ID order.
    std::vector<APMEExperiment> experiments() const;
    // The Snapshot message with the name and every experiment.
    APMPBSnapshot proto() const;

    const std::string& SDKName() const { return SDKName_; }
    // Seconds since 1970.
    double timestamp() const { return timestamp_; }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }
    bool manuallyActivated() const { return manuallyActivated_; }
    void setManuallyActivated(bool manuallyActivated) { manuallyActivated_ = manuallyActivated; }

  private:
    explicit APMESnapshot(std::string SDKName);

    std::map<std::int64_t, APMEExperiment> experimentsByExperimentID_;
    bool manuallyActivated_ = false;
    std::string SDKName_;
    double timestamp_;
};

// The current wall-clock time in seconds since 1970 (the time tests set, when they set one).
double APMECurrentTimestamp();
