// The TCF client: made at start step 17, asked again before every upload, and told the DMA
// region of each fetched configuration.
#include "sdk/measurement/audiences/APMTCFClient.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMAnalyticsTCFFacade.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

void APMMeasurement::startTCFClientOnWorkerQueue() {
    tcfClient_ = std::make_shared<APMTCFClient>(std::make_shared<APMAnalyticsTCFFacade>());
    tcfClient_->setIsDMARegion(remoteConfig_->isDMARegion());
    tcfClientSetConsentFromData();
}

void APMMeasurement::tcfClientSetConsentFromData() {
    APMScheduler::checkOnBackgroundThreadWithMethodName("tcfClientSetConsentFromData");
    if (tcfClient_) {
        tcfClient_->setConsentFromTCFData();
    }
}
