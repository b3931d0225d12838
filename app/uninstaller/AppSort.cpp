#include "app/uninstaller/AppSort.h"

#include <algorithm>
#include <cstddef>

#include "app/uninstaller/AppNameOrder.h"
#include "app/uninstaller/InstalledApp.h"

namespace cb {

namespace {

constexpr std::array<std::string_view, kAllAppSorts.size()> kRawValues = {
    "sizeDesc", "sizeAsc", "nameAsc", "nameDesc", "lastOpened"};

using AppPtr = std::shared_ptr<InstalledApp>;

template <typename Before>
std::vector<AppPtr> stableSorted(const std::vector<AppPtr>& apps, Before before) {
    std::vector<AppPtr> sorted = apps;
    std::stable_sort(sorted.begin(), sorted.end(), before);
    return sorted;
}

}  // namespace

std::string_view rawValue(AppSort sort) {
    return kRawValues[static_cast<size_t>(sort)];
}

std::optional<AppSort> appSortFromRawValue(std::string_view raw) {
    for (AppSort sort : kAllAppSorts) {
        if (rawValue(sort) == raw) {
            return sort;
        }
    }
    return std::nullopt;
}

std::vector<AppPtr> sortedApps(const std::vector<AppPtr>& apps, AppSort sort) {
    switch (sort) {
        case AppSort::sizeDesc:
            return stableSorted(apps, [](const AppPtr& a, const AppPtr& b) {
                return a->totalSize() > b->totalSize();
            });
        case AppSort::sizeAsc:
            return stableSorted(apps, [](const AppPtr& a, const AppPtr& b) {
                return a->totalSize() < b->totalSize();
            });
        case AppSort::nameAsc:
        case AppSort::nameDesc: {
            const AppNameOrder order;
            const int sign = sort == AppSort::nameAsc ? 1 : -1;
            return stableSorted(apps, [&order, sign](const AppPtr& a, const AppPtr& b) {
                return sign * order.compare(a->name(), b->name()) < 0;
            });
        }
        case AppSort::lastOpened:
            // A missing date is the distant past: after every dated application.
            return stableSorted(apps, [](const AppPtr& a, const AppPtr& b) {
                return a->lastOpened().value_or(InstalledApp::Date::min()) >
                       b->lastOpened().value_or(InstalledApp::Date::min());
            });
    }
    return apps;
}

}  // namespace cb
