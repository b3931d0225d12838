#include "sdk/measurement/experiments/APMEExperiment.h"

#include <memory>

#include "sdk/measurement/experiments/APMEMonitor.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

constexpr std::int64_t kLevel = 2;

}  // namespace

std::optional<APMEExperiment> APMEExperiment::initWithExperimentID(
    std::optional<std::int64_t> experimentID, const std::vector<APMPBFlag>& flags) {
    if (!experimentID) {
        APMEMonitor::logWithLevel(kLevel, 870000, "Cannot create an experiment without ID");
        return std::nullopt;
    }
    APMEExperiment experiment(*experimentID);
    for (const APMPBFlag& flag : flags)
        experiment.addFlag(&flag);
    return experiment;
}

APMEExperiment APMEExperiment::initWithProtobuf(const APMPBExperiment& proto) {
    namespace E = apmpb::Experiment;
    APMEExperiment experiment(static_cast<std::int32_t>(APMPBGetInt32(&proto, E::kExperimentId)));
    if (auto flags = APMPBGetRepeated<APMPBFlag>(&proto, E::kFlags)) {
        for (const APMPBRepeatedElement& element : *flags) {
            const auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&element);
            if (message != nullptr)
                experiment.addFlag(dynamic_cast<const APMPBFlag*>(message->get()));
        }
    }
    return experiment;
}

bool APMEExperiment::addFlag(const APMPBFlag* flag) {
    if (flag == nullptr) {
        APMEMonitor::logWithLevel(kLevel, 870004, "Cannot add empty flag into an experiment. ID",
                                  {experimentID_});
        return false;
    }
    std::optional<std::string> name = APMPBGetString(flag, apmpb::Flag::kName);
    if (!name || name->empty()) {
        APMEMonitor::logWithLevel(kLevel, 870006,
                                  "Cannot add a flag without name into an experiment. ID",
                                  {experimentID_});
        return false;
    }
    flagsByName_.insert_or_assign(std::move(*name), *flag);
    return true;
}

const APMPBFlag* APMEExperiment::flagWithName(std::string_view name) const {
    if (name.empty()) {
        APMEMonitor::logWithLevel(kLevel, 870007, "Cannot retrieve a flag without a flag name");
        return nullptr;
    }
    auto it = flagsByName_.find(name);
    return it == flagsByName_.end() ? nullptr : &it->second;
}

std::vector<APMPBFlag> APMEExperiment::flags() const {
    std::vector<APMPBFlag> result;
    result.reserve(flagsByName_.size());
    for (const auto& [name, flag] : flagsByName_)
        result.push_back(flag);
    return result;
}

APMPBExperiment APMEExperiment::proto() const {
    namespace E = apmpb::Experiment;
    APMPBExperiment proto;
    APMPBSetInt32(&proto, E::kExperimentId, static_cast<std::uint32_t>(experimentID_));
    APMPBRepeatedArray flags;
    flags.reserve(flagsByName_.size());
    for (const auto& [name, flag] : flagsByName_)
        flags.emplace_back(std::make_shared<APMPBFlag>(flag));
    APMPBSetRepeated(&proto, E::kFlags, flags);
    return proto;
}
