#include "sdk/measurement/experiments/APMEManager.h"

#include "sdk/measurement/experiments/APMEExperimentManager.h"
#include "sdk/measurement/experiments/APMEFetchTaskManager.h"

std::shared_ptr<APMEManager> APMEManager::sharedInstance() {
    // Never destroyed: its queues may still run while the process exits.
    static const auto* const instance = new std::shared_ptr<APMEManager>(
        APMEExperimentManager::initWithTaskManager(APMEFetchTaskManager::create()));
    return *instance;
}
