#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace cb {

// The kinds of Library folder that an application's related items come from, in the order the
// uninstall dialog and the detail panel show their groups. Which folder feeds which kind is the
// business of the Library scan; the raw values are titles ("Saved State" for the folder "Saved
// Application State"), shown verbatim next to the kind's symbol.
enum class RelatedCategory {
    applicationSupport,
    caches,
    preferences,
    containers,
    groupContainers,
    applicationScripts,
    savedState,
    logs,
    cookies,
    webkit,
    httpStorages,
    launchAgents,
    launchDaemons,
    privilegedHelpers,
};

// Every category in declaration order.
inline constexpr std::array<RelatedCategory, 14> kAllRelatedCategories = {
    RelatedCategory::applicationSupport,
    RelatedCategory::caches,
    RelatedCategory::preferences,
    RelatedCategory::containers,
    RelatedCategory::groupContainers,
    RelatedCategory::applicationScripts,
    RelatedCategory::savedState,
    RelatedCategory::logs,
    RelatedCategory::cookies,
    RelatedCategory::webkit,
    RelatedCategory::httpStorages,
    RelatedCategory::launchAgents,
    RelatedCategory::launchDaemons,
    RelatedCategory::privilegedHelpers,
};

// The category's raw value, which is also its title: "Application Support", "Caches", ...
std::string_view rawValue(RelatedCategory category);

// The category whose raw value is exactly `raw` (case and spaces included), else nullopt:
// "Caches" gives caches; "caches" and "Saved Application State" give none.
std::optional<RelatedCategory> relatedCategoryFromRawValue(std::string_view raw);

// The symbol name the views draw for the category ("tray.full", "externaldrive.badge.timemachine",
// ...); each category has its own.
std::string_view icon(RelatedCategory category);

}  // namespace cb
