#include "sdk/measurement/attribution/APMPSMContext.h"

#include <string>

#include "sdk/measurement/attribution/APMPrivateSetMembershipClient.h"
#include "sdk/measurement/engine/APMAlarm.h"

APMPSMContext::APMPSMContext() = default;

APMPSMContext::~APMPSMContext() = default;

APMAlarm& APMPSMContext::PSMRetryAlarm(const platform::QueueRef& workerQueue) {
    if (!PSMRetryAlarm_) {
        PSMRetryAlarm_ = std::make_unique<APMAlarm>(workerQueue, std::string(kRetryAlarmName));
    }
    return *PSMRetryAlarm_;
}
