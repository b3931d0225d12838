#include "sdk/measurement/experiments/APMESnapshot.h"

#include <chrono>
#include <memory>

#include "platform/dispatch/Clock.h"
#include "sdk/measurement/experiments/APMEMonitor.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

constexpr std::int64_t kLevel = 2;

}  // namespace

double APMECurrentTimestamp() {
    return std::chrono::duration<double>(platform::wallClockNow().time_since_epoch()).count();
}

APMESnapshot::APMESnapshot(std::string SDKName)
    : SDKName_(std::move(SDKName)), timestamp_(APMECurrentTimestamp()) {}

std::optional<APMESnapshot> APMESnapshot::initWithSDKName(
    std::string_view SDKName, const std::vector<APMEExperiment>& experiments) {
    if (SDKName.empty()) {
        APMEMonitor::logWithLevel(kLevel, 840000,
                                  "Cannot create snapshot with an invalid SDK name");
        return std::nullopt;
    }
    APMESnapshot snapshot{std::string(SDKName)};
    for (const APMEExperiment& experiment : experiments)
        snapshot.experimentsByExperimentID_.insert_or_assign(experiment.experimentID(), experiment);
    return snapshot;
}

std::optional<APMESnapshot> APMESnapshot::initWithProtobuf(const APMPBSnapshot& proto) {
    namespace S = apmpb::Snapshot;
    std::vector<APMEExperiment> experiments;
    if (auto elements = APMPBGetRepeated<APMPBExperiment>(&proto, S::kExperiments)) {
        for (const APMPBRepeatedElement& element : *elements) {
            const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
            if (message == nullptr || *message == nullptr)
                continue;
            if (const auto* experiment = dynamic_cast<const APMPBExperiment*>(message->get()))
                experiments.push_back(APMEExperiment::initWithProtobuf(*experiment));
        }
    }
    return initWithSDKName(APMPBGetString(&proto, S::kSdkName).value_or(""), experiments);
}

const APMPBFlag* APMESnapshot::flagByName(std::string_view name) const {
    for (const auto& [experimentID, experiment] : experimentsByExperimentID_) {
        if (const APMPBFlag* flag = experiment.flagWithName(name))
            return flag;
    }
    return nullptr;
}

bool APMESnapshot::addFlag(const APMPBFlag* flag, std::optional<std::int64_t> experimentID) {
    if (!experimentID) {
        APMEMonitor::logWithLevel(kLevel, 840003, "Cannot add flag into empty experiment ID");
        return false;
    }
    if (flag == nullptr) {
        APMEMonitor::logWithLevel(kLevel, 840004, "Cannot add an invalid flag into a snapshot");
        return false;
    }
    auto it = experimentsByExperimentID_.find(*experimentID);
    if (it == experimentsByExperimentID_.end()) {
        auto experiment = APMEExperiment::initWithExperimentID(*experimentID, {});
        it = experimentsByExperimentID_.emplace(*experimentID, std::move(*experiment)).first;
    }
    return it->second.addFlag(flag);
}

bool APMESnapshot::addFlags(const std::vector<APMPBFlag>& flags,
                            std::optional<std::int64_t> experimentID) {
    bool allAdded = true;
    for (const APMPBFlag& flag : flags)
        allAdded = addFlag(&flag, experimentID) && allAdded;
    return allAdded;
}

std::vector<APMEExperiment> APMESnapshot::experiments() const {
    std::vector<APMEExperiment> result;
    result.reserve(experimentsByExperimentID_.size());
    for (const auto& [experimentID, experiment] : experimentsByExperimentID_)
        result.push_back(experiment);
    return result;
}

APMPBSnapshot APMESnapshot::proto() const {
    namespace S = apmpb::Snapshot;
    APMPBSnapshot proto;
    APMPBSetString(&proto, S::kSdkName, SDKName_);
    APMPBRepeatedArray experiments;
    experiments.reserve(experimentsByExperimentID_.size());
    for (const auto& [experimentID, experiment] : experimentsByExperimentID_)
        experiments.emplace_back(std::make_shared<APMPBExperiment>(experiment.proto()));
    APMPBSetRepeated(&proto, S::kExperiments, experiments);
    return proto;
}
