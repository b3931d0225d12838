#include "sdk/utilities/VDUNotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(VDUNotificationCenterTest, DeliversByNameAndSenderInRegistrationOrder) {
    VDUNotificationCenter center;
    int senderA = 0;
    int senderB = 0;
    std::vector<std::string> seen;
    struct Registration {
        const char* label;
        std::optional<std::string> name;
        const void* sender;
    };
    const Registration registrations[] = {
        {"any", std::nullopt, nullptr},         {"ping", "ping", nullptr},
        {"ping-from-a", "ping", &senderA},      {"pong", "pong", nullptr},
        {"any-from-b", std::nullopt, &senderB},
    };
    std::vector<VDUObserverToken> tokens;
    for (const Registration& r : registrations) {
        tokens.push_back(center.addObserverForName(
            r.name, r.sender, [&seen, label = std::string(r.label)](const VDUNotification& n) {
                seen.push_back(label + ":" + n.name + ":" + n.userInfo.at("k").description());
            }));
    }
    center.postNotificationName("ping", &senderA, {{"k", sdk::Value(1)}});
    center.postNotificationName("ping", &senderB, {{"k", sdk::Value(2)}});
    center.postNotificationName("other", nullptr, {{"k", sdk::Value(3)}});
    EXPECT_EQ(seen, (std::vector<std::string>{"any:ping:1", "ping:ping:1", "ping-from-a:ping:1",
                                              "any:ping:2", "ping:ping:2", "any-from-b:ping:2",
                                              "any:other:3"}));
}

TEST(VDUNotificationCenterTest, ObserversMayPostAddAndRemoveFromInsideABlock) {
    VDUNotificationCenter center;
    std::vector<std::string> seen;
    VDUObserverToken second;
    VDUObserverToken added;
    VDUObserverToken first = center.addObserverForName("n", nullptr, [&](const VDUNotification&) {
        seen.push_back("first");
        first.remove();   // itself: returns at once although its block is running
        second.remove();  // a later observer of the same post: it gets nothing more
        added = center.addObserverForName("n", nullptr,
                                          [&](const VDUNotification&) { seen.push_back("added"); });
        center.postNotificationName("nested", nullptr);
    });
    second = center.addObserverForName("n", nullptr,
                                       [&](const VDUNotification&) { seen.push_back("second"); });
    VDUObserverToken nested = center.addObserverForName(
        "nested", nullptr, [&](const VDUNotification&) { seen.push_back("nested"); });

    center.postNotificationName("n", nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "nested"}));  // "added" came too late
    EXPECT_FALSE(first.isRegistered());
    seen.clear();
    center.postNotificationName("n", nullptr);
    EXPECT_EQ(seen, (std::vector<std::string>{"added"}));
}

TEST(VDUNotificationCenterTest, ADestroyedTokenEndsItsRegistrationAndMayOutliveTheCenter) {
    VDUObserverToken outliving;
    int calls = 0;
    {
        VDUNotificationCenter center;
        {
            VDUObserverToken scoped =
                center.addObserverForName("n", nullptr, [&](const VDUNotification&) { ++calls; });
            center.postNotificationName("n", nullptr);
        }
        center.postNotificationName("n", nullptr);
        outliving = center.addObserverForName("n", nullptr, [](const VDUNotification&) {});
    }
    EXPECT_EQ(calls, 1);
    outliving.remove();  // the center is gone; its state is not
}

// Posts from several threads while observers remove themselves and others come and go. Once
// remove() has returned, the observer's block must neither be running nor start again.
TEST(VDUNotificationCenterTest, PostsFromSeveralThreadsWhileObserversRemoveThemselves) {
    VDUNotificationCenter center;
    constexpr int kObservers = 8;
    constexpr int kPosters = 4;
    constexpr int kPosts = 400;
    struct Watched {
        VDUObserverToken token;
        std::atomic<bool> removed{false};
        std::atomic<int> calls{0};
        std::atomic<int> lateCalls{0};
    };
    std::vector<std::unique_ptr<Watched>> watched;
    for (int i = 0; i < kObservers; ++i) {
        watched.push_back(std::make_unique<Watched>());
    }
    for (int i = 0; i < kObservers; ++i) {
        Watched& w = *watched[static_cast<size_t>(i)];
        const int limit = 10 * (i + 1);
        w.token = center.addObserverForName("tick", nullptr, [&w, limit](const VDUNotification&) {
            if (w.removed.load()) {
                w.lateCalls.fetch_add(1);
            }
            if (w.calls.fetch_add(1) + 1 == limit) {
                w.token.remove();  // itself, from inside its block
                w.removed.store(true);
            }
        });
    }
    std::atomic<int> churned{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kPosters; ++t) {
        threads.emplace_back([&center] {
            for (int i = 0; i < kPosts; ++i) {
                center.postNotificationName("tick", nullptr, {{"i", sdk::Value(i)}});
            }
        });
    }
    threads.emplace_back([&center, &churned] {
        for (int i = 0; i < kPosts; ++i) {
            std::atomic<bool> removed{false};
            std::atomic<bool> late{false};
            VDUObserverToken token =
                center.addObserverForName("tick", nullptr, [&](const VDUNotification&) {
                    if (removed.load()) {
                        late.store(true);
                    }
                });
            token.remove();
            removed.store(true);
            center.postNotificationName("tick", nullptr);
            churned.fetch_add(late.load() ? 0 : 1);
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(churned.load(), kPosts);
    for (int i = 0; i < kObservers; ++i) {
        const Watched& w = *watched[static_cast<size_t>(i)];
        EXPECT_TRUE(w.removed.load()) << i;
        EXPECT_EQ(w.lateCalls.load(), 0) << i;
    }
}

}  // namespace
