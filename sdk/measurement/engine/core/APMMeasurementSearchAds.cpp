// Start step 16: the search-ads reporter, with the facade's internal-event entry as the way its
// campaign event comes in.
#include "sdk/measurement/attribution/APMSearchAdReporter.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"

void APMMeasurement::startSearchAdReporterOnWorkerQueue() {
    searchAdReporter_ =
        APMSearchAdReporter::initWithWorkerQueue(scheduler_->workerQueue(), persistedConfig_);
    if (!searchAdReporter_) {
        return;
    }
    // Its campaign event enters through the facade, like every internal event.
    searchAdReporter_->setInternalEventLogger(
        [](std::string_view origin, std::string_view name, sdk::Value::Dictionary parameters) {
            APMAnalytics::logInternalEventWithOrigin(std::string(origin), std::string(name),
                                                     APMRawParametersFromDictionary(parameters));
        });
    searchAdReporter_->setSearchAdReporterEnabled(true);
    searchAdReporter_->start();
}
