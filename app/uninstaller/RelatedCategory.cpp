#include "app/uninstaller/RelatedCategory.h"

#include <cstddef>

namespace cb {

namespace {

struct CategoryEntry {
    std::string_view rawValue;
    std::string_view icon;
};

// Indexed by the enumeration's value.
constexpr std::array<CategoryEntry, kAllRelatedCategories.size()> kEntries = {{
    {"Application Support", "tray.full"},
    {"Caches", "externaldrive.badge.timemachine"},
    {"Preferences", "slider.horizontal.3"},
    {"Containers", "cube.box"},
    {"Group Containers", "cube.box.fill"},
    {"Application Scripts", "scroll"},
    {"Saved State", "archivebox"},
    {"Logs", "doc.text"},
    {"Cookies", "circle.grid.2x2"},
    {"WebKit", "globe"},
    {"HTTP Storages", "network"},
    {"Launch Agents", "bolt.horizontal"},
    {"Launch Daemons", "bolt.fill"},
    {"Privileged Helpers", "gearshape.2"},
}};

const CategoryEntry& entry(RelatedCategory category) {
    return kEntries[static_cast<size_t>(category)];
}

}  // namespace

std::string_view rawValue(RelatedCategory category) {
    return entry(category).rawValue;
}

std::optional<RelatedCategory> relatedCategoryFromRawValue(std::string_view raw) {
    for (RelatedCategory category : kAllRelatedCategories) {
        if (entry(category).rawValue == raw) {
            return category;
        }
    }
    return std::nullopt;
}

std::string_view icon(RelatedCategory category) {
    return entry(category).icon;
}

}  // namespace cb
