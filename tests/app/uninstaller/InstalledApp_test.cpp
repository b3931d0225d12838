#include "app/uninstaller/InstalledApp.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <set>
#include <thread>
#include <unordered_set>

#include "app/uninstaller/RelatedCategory.h"
#include "app/uninstaller/RelatedFile.h"

namespace cb {
namespace {

std::shared_ptr<InstalledApp> makeApp(std::string name = "Notes") {
    return InstalledApp::make({"/Applications/" + name + ".app", name, "com.example." + name,
                               std::nullopt, std::nullopt, QImage()});
}

RelatedFile related(int64_t size) {
    return RelatedFile{QUuid::createUuid(), "/Library/Caches/x", RelatedCategory::caches, size,
                       false};
}

TEST(InstalledAppTest, TotalSizeFollowsBundleSizeAndRelatedAtOnce) {
    std::shared_ptr<InstalledApp> app = makeApp();
    EXPECT_EQ(app->bundleSize(), 0);
    EXPECT_TRUE(app->related().empty());
    EXPECT_FALSE(app->relatedLoaded());
    EXPECT_FALSE(app->relatedLoading());
    EXPECT_EQ(app->totalSize(), 0);
    EXPECT_NE(app->id(), makeApp()->id());

    app->setBundleSize(1000);
    EXPECT_EQ(app->totalSize(), 1000);
    app->setRelated({related(24), related(4096)});
    EXPECT_EQ(app->totalSize(), 1000 + 24 + 4096);
    app->setBundleSize(1);
    EXPECT_EQ(app->totalSize(), 1 + 24 + 4096);
    app->setRelated({});
    EXPECT_EQ(app->totalSize(), 1);
    // Sizes from outside cannot overflow the sum.
    app->setBundleSize(INT64_MAX);
    app->setRelated({related(1), related(INT64_MAX)});
    EXPECT_EQ(app->totalSize(), INT64_MAX);
}

TEST(InstalledAppTest, EveryWriteOfAPublishedFieldIsSignalledAfterTheValueIsStored) {
    std::shared_ptr<InstalledApp> app = makeApp();
    std::vector<std::string> seen;
    QObject::connect(app.get(), &InstalledApp::bundleSizeChanged,
                     [&] { seen.push_back("size " + std::to_string(app->bundleSize())); });
    QObject::connect(app.get(), &InstalledApp::relatedChanged,
                     [&] { seen.push_back("related " + std::to_string(app->related().size())); });
    QObject::connect(app.get(), &InstalledApp::relatedLoadedChanged,
                     [&] { seen.push_back("loaded " + std::to_string(app->relatedLoaded())); });
    QObject::connect(app.get(), &InstalledApp::relatedLoadingChanged,
                     [&] { seen.push_back("loading " + std::to_string(app->relatedLoading())); });

    app->setBundleSize(5);
    app->setBundleSize(5);  // the same value is still a write
    app->setRelatedLoading(true);
    app->setRelated({related(1)});
    app->setRelatedLoaded(true);
    app->setRelatedLoading(false);
    EXPECT_EQ(seen, (std::vector<std::string>{"size 5", "size 5", "loading 1", "related 1",
                                              "loaded 1", "loading 0"}));
}

TEST(InstalledAppTest, MadeOnAWorkerItBelongsToTheApplicationThreadAndDiesThere) {
    int argc = 1;
    char name[] = "installed_app_test";
    char* argv[] = {name, nullptr};
    QCoreApplication core(argc, argv);

    std::shared_ptr<InstalledApp> app;
    std::thread([&] { app = makeApp(); }).join();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->thread(), core.thread());

    bool destroyed = false;
    QObject::connect(app.get(), &QObject::destroyed, [&] { destroyed = true; });
    // The last owner lets go on a worker: the object is deleted by the application thread.
    std::thread([moved = std::move(app)]() mutable { moved.reset(); }).join();
    EXPECT_FALSE(destroyed);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(destroyed);
}

TEST(RelatedFileTest, EqualAndHashedByIdAlone) {
    const RelatedFile a = related(10);
    RelatedFile copy = a;
    copy.size = 99;
    copy.isShared = true;
    copy.category = RelatedCategory::logs;
    EXPECT_EQ(a, copy);
    EXPECT_EQ(std::hash<RelatedFile>{}(a), std::hash<RelatedFile>{}(copy));

    RelatedFile twin = a;
    twin.id = QUuid::createUuid();
    EXPECT_NE(a, twin);
    EXPECT_EQ((std::unordered_set<RelatedFile>{a, copy, twin}).size(), 2u);
}

TEST(RelatedCategoryTest, RawValuesAreExactTitlesAndEverySymbolIsItsOwn) {
    EXPECT_EQ(relatedCategoryFromRawValue("Caches"), RelatedCategory::caches);
    for (const char* raw : {"caches", "Saved Application State", "", "HTTPStorages", "Caches "}) {
        EXPECT_EQ(relatedCategoryFromRawValue(raw), std::nullopt) << raw;
    }
    EXPECT_EQ(relatedCategoryFromRawValue("Saved State"), RelatedCategory::savedState);
    EXPECT_EQ(relatedCategoryFromRawValue("HTTP Storages"), RelatedCategory::httpStorages);

    std::set<std::string_view> symbols;
    int index = 0;
    for (RelatedCategory category : kAllRelatedCategories) {
        EXPECT_EQ(static_cast<int>(category), index++);  // declaration order
        EXPECT_EQ(relatedCategoryFromRawValue(rawValue(category)), category);
        symbols.insert(icon(category));
    }
    EXPECT_EQ(symbols.size(), 14u);
    EXPECT_EQ(rawValue(kAllRelatedCategories.front()), "Application Support");
    EXPECT_EQ(rawValue(kAllRelatedCategories.back()), "Privileged Helpers");
}

}  // namespace
}  // namespace cb
