#include "app/uninstaller/AppSort.h"

#include <gtest/gtest.h>

#include "app/uninstaller/AppNameOrder.h"
#include "app/uninstaller/InstalledApp.h"

namespace cb {
namespace {

using namespace std::chrono_literals;

struct AppEntry {
    AppEntry(std::string name, int64_t size = 0, std::optional<InstalledApp::Date> lastOpened = {})
        : name(std::move(name)), size(size), lastOpened(lastOpened) {}
    std::string name;
    int64_t size = 0;
    std::optional<InstalledApp::Date> lastOpened;
};

std::vector<std::shared_ptr<InstalledApp>> makeApps(const std::vector<AppEntry>& entries) {
    std::vector<std::shared_ptr<InstalledApp>> apps;
    int n = 0;
    for (const AppEntry& entry : entries) {
        apps.push_back(InstalledApp::make({"/Applications/" + entry.name + ".app", entry.name,
                                           "com.example." + std::to_string(n++), std::nullopt,
                                           entry.lastOpened, QImage()}));
        apps.back()->setBundleSize(entry.size);
    }
    return apps;
}

// Each application's position in `apps` (the input), in the sorted order.
std::vector<int> order(const std::vector<std::shared_ptr<InstalledApp>>& apps, AppSort sort) {
    std::vector<int> positions;
    for (const auto& app : sortedApps(apps, sort)) {
        positions.push_back(
            static_cast<int>(std::find(apps.begin(), apps.end(), app) - apps.begin()));
    }
    return positions;
}

TEST(AppSortTest, EachOrderIsStable) {
    const auto today = std::chrono::system_clock::now();
    const auto yesterday = today - 24h;
    struct Case {
        std::vector<AppEntry> apps;
        AppSort sort;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{}, AppSort::sizeDesc, {}},
        {{{"Only", 5}}, AppSort::lastOpened, {0}},
        {{{"a", 10}, {"b", 30}, {"c", 10}, {"d", 20}}, AppSort::sizeDesc, {1, 3, 0, 2}},
        {{{"a", 10}, {"b", 30}, {"c", 10}, {"d", 20}}, AppSort::sizeAsc, {0, 2, 3, 1}},
        {{{"cherry"}, {"apple"}, {"Banana"}}, AppSort::nameAsc, {1, 2, 0}},
        {{{"cherry"}, {"apple"}, {"Banana"}}, AppSort::nameDesc, {0, 2, 1}},
        {{{"Zoom"}, {"zoom"}, {"Alpha"}}, AppSort::nameAsc, {2, 0, 1}},
        {{{"Zoom"}, {"zoom"}, {"Alpha"}}, AppSort::nameDesc, {0, 1, 2}},
        {{{"zoom"}, {"Zoom"}}, AppSort::nameDesc, {0, 1}},
        {{{"y", 0, yesterday}, {"n"}, {"t", 0, today}}, AppSort::lastOpened, {2, 0, 1}},
        {{{"n1"}, {"t", 0, today}, {"n2"}, {"t2", 0, today}}, AppSort::lastOpened, {1, 3, 0, 2}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(order(makeApps(c.apps), c.sort), c.expected) << rawValue(c.sort);
    }
}

TEST(AppSortTest, SizesIncludeRelatedFilesAsTheyArrive) {
    auto apps = makeApps({{"a", 100}, {"b", 50}});
    EXPECT_EQ(order(apps, AppSort::sizeDesc), (std::vector<int>{0, 1}));
    apps[1]->setRelated({RelatedFile{QUuid::createUuid(), "/x", RelatedCategory::logs, 60, false}});
    EXPECT_EQ(order(apps, AppSort::sizeDesc), (std::vector<int>{1, 0}));
}

TEST(AppSortTest, RawValuesAreTheCaseNames) {
    for (AppSort sort : kAllAppSorts) {
        EXPECT_EQ(appSortFromRawValue(rawValue(sort)), sort);
    }
    EXPECT_EQ(rawValue(AppSort::lastOpened), "lastOpened");
    EXPECT_EQ(appSortFromRawValue("SizeDesc"), std::nullopt);
    EXPECT_EQ(appSortFromRawValue(""), std::nullopt);
}

TEST(AppNameOrderTest, IgnoresCaseButNotAccents) {
    // Runs under whatever locale the tests get, the POSIX one included.
    const AppNameOrder names;
    EXPECT_LT(names.compare("apple", "Banana"), 0);
    EXPECT_LT(names.compare("Banana", "cherry"), 0);
    EXPECT_GT(names.compare("cherry", "apple"), 0);
    EXPECT_EQ(names.compare("Zoom", "zoom"), 0);
    EXPECT_LT(names.compare("resume", "r\xC3\xA9sum\xC3\xA9"), 0);   // résumé
    EXPECT_LT(names.compare("r\xC3\xA9sum\xC3\xA9", "resumes"), 0);  // accents are secondary
}

}  // namespace
}  // namespace cb
