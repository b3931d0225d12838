#include "app/ads/AnalyticsEvent.h"

#include <string>

#include "sdk/analytics/REROdazadeve.h"

namespace cb {

std::string_view rawValue(AnalyticsEvent event) {
    switch (event) {
        case AnalyticsEvent::appLaunched:
            return "app_launched";
        case AnalyticsEvent::scanStartedHome:
            return "scan_started_home";
        case AnalyticsEvent::scanStartedEntireMac:
            return "scan_started_entire_mac";
        case AnalyticsEvent::scanStartedFolder:
            return "scan_started_folder";
        case AnalyticsEvent::scanCompleted:
            return "scan_completed";
        case AnalyticsEvent::itemDeleted:
            return "item_deleted";
        case AnalyticsEvent::appUninstalled:
            return "app_uninstalled";
        case AnalyticsEvent::snapshotsThinned:
            return "snapshots_thinned";
        case AnalyticsEvent::modeSwitched:
            return "mode_switched";
        case AnalyticsEvent::adClicked:
            return "ad_clicked";
    }
    return "app_launched";
}

std::optional<AnalyticsEvent> analyticsEventFromRawValue(std::string_view raw) {
    for (AnalyticsEvent event : kAllAnalyticsEvents) {
        if (rawValue(event) == raw) {
            return event;
        }
    }
    return std::nullopt;
}

void logAnalyticsEvent(AnalyticsEvent event, std::optional<sdk::Value::Dictionary> parameters) {
    REROdazadeve::logEventWithName(std::string(rawValue(event)), std::move(parameters));
}

void configureAnalytics() {
    REROdazadeve::setUserPropertyString("direct", "distribution");
    REROdazadeve::setDefaultEventParameters(sdk::Value::Dictionary{{"distribution", "direct"}});
}

}  // namespace cb
