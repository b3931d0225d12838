#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace cb {

class InstalledApp;

// The orders of the apps list. Every order is a stable sort, so applications neither goes before
// the other keep their order in the input (for the list, the name order discovery gives).
enum class AppSort {
    sizeDesc,    // largest totalSize() first
    sizeAsc,     // smallest totalSize() first
    nameAsc,     // names A to Z (AppNameOrder: case ignored, so "Zoom" and "zoom" keep their order)
    nameDesc,    // names Z to A, names that compare equal still in input order
    lastOpened,  // most recently opened first; applications without a date last
};

// Every order in declaration order.
inline constexpr std::array<AppSort, 5> kAllAppSorts = {
    AppSort::sizeDesc, AppSort::sizeAsc, AppSort::nameAsc, AppSort::nameDesc, AppSort::lastOpened};

// The order's raw value, its case name: "sizeDesc", "sizeAsc", "nameAsc", "nameDesc",
// "lastOpened".
std::string_view rawValue(AppSort sort);

// The order whose raw value is exactly `raw`, else nullopt ("SizeDesc" gives none).
std::optional<AppSort> appSortFromRawValue(std::string_view raw);

// A copy of `apps` in the order `sort`; `apps` itself is not changed. Reads the published sizes,
// so call it on the applications' (UI) thread. REQUIRES: no element is null.
std::vector<std::shared_ptr<InstalledApp>> sortedApps(
    const std::vector<std::shared_ptr<InstalledApp>>& apps, AppSort sort);

}  // namespace cb
