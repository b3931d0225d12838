#include "app/AppDelegate.h"

#include "app/ads/AnalyticsEvent.h"
#include "sdk/core/ZEDOre.h"

namespace cb {

void AppDelegate::applicationDidFinishLaunching() {
    ZEDOre::configure();
    configureAnalytics();
    logAnalyticsEvent(AnalyticsEvent::appLaunched);
}

}  // namespace cb
