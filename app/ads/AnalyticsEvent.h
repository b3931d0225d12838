#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "sdk/utilities/Value.h"

namespace cb {

// The application's usage events. Every event the app logs uses one of these names and no
// other; the raw value is the name sent to the analytics interface.
enum class AnalyticsEvent {
    appLaunched,           // "app_launched", no parameters
    scanStartedHome,       // "scan_started_home", no parameters
    scanStartedEntireMac,  // "scan_started_entire_mac", no parameters
    scanStartedFolder,     // "scan_started_folder", no parameters
    scanCompleted,         // "scan_completed": "size_bytes" (int64), "children_count" (int)
    itemDeleted,           // "item_deleted": "size_bytes" (int64), "is_directory" (bool)
    appUninstalled,        // "app_uninstalled": "bundle_id" (string)
    snapshotsThinned,      // "snapshots_thinned": "freed_bytes" (int64)
    modeSwitched,          // "mode_switched": "mode" ("apps" or "folder")
    adClicked,             // "ad_clicked": "ad_id" (string), "link" (string)
};

// Every event, in declaration order.
inline constexpr std::array<AnalyticsEvent, 10> kAllAnalyticsEvents = {
    AnalyticsEvent::appLaunched,          AnalyticsEvent::scanStartedHome,
    AnalyticsEvent::scanStartedEntireMac, AnalyticsEvent::scanStartedFolder,
    AnalyticsEvent::scanCompleted,        AnalyticsEvent::itemDeleted,
    AnalyticsEvent::appUninstalled,       AnalyticsEvent::snapshotsThinned,
    AnalyticsEvent::modeSwitched,         AnalyticsEvent::adClicked};

// Returns the event's name in snake case, e.g. "item_deleted".
std::string_view rawValue(AnalyticsEvent event);

// Returns the event whose name is exactly `raw`, or nullopt for any other string.
std::optional<AnalyticsEvent> analyticsEventFromRawValue(std::string_view raw);

// Sends one usage event through the analytics interface, fire and forget. `parameters` is
// nullopt for an event without parameters (no dictionary at all, not an empty one). The
// interface drops the event while the SDK core is not configured.
// REQUIRES: called on the main thread.
void logAnalyticsEvent(AnalyticsEvent event,
                       std::optional<sdk::Value::Dictionary> parameters = std::nullopt);

// The launch-time analytics set-up, called once after the SDK core is configured: the user
// property "distribution" = "direct", then the default event parameters
// {"distribution": "direct"}. Nothing else is set.
// REQUIRES: called on the main thread, after ZEDOre::configure().
void configureAnalytics();

}  // namespace cb
