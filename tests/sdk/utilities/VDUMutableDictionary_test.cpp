#include "sdk/utilities/VDUMutableDictionary.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

using sdk::Value;

TEST(VDUMutableDictionaryTest, WriteThenReadOnOneThreadSeesTheWrite) {
    VDUMutableDictionary<> dictionary;
    for (int i = 0; i < 200; ++i) {
        dictionary.setObject(Value(i), "key");
        ASSERT_EQ(dictionary.objectForKey("key"), Value(i));
    }
    dictionary.removeObjectForKey("key");
    EXPECT_FALSE(dictionary.objectForKeyedSubscript("key").has_value());
}

TEST(VDUMutableDictionaryTest, SettingNilRemovesAndRemoveAllEmpties) {
    VDUMutableDictionary<> dictionary;
    dictionary.setObjectForKeyedSubscript(Value("a"), "a");
    dictionary.setObject(Value("b"), "b");
    dictionary.setObject(Value(), "null");  // a null value is a value, not a removal
    EXPECT_EQ(dictionary.count(), 3u);
    dictionary.setObjectForKeyedSubscript(std::nullopt, "a");
    EXPECT_EQ(dictionary.allKeys(), (std::vector<std::string>{"b", "null"}));
    dictionary.removeAllObjects();
    EXPECT_EQ(dictionary.count(), 0u);
    EXPECT_TRUE(dictionary.allKeys().empty());
}

TEST(VDUMutableDictionaryTest, SnapshotIsUnaffectedByLaterWrites) {
    VDUMutableDictionary<> dictionary;
    dictionary.setObject(Value(1), "one");
    const Value::Dictionary snapshot = dictionary.dictionary();
    dictionary.setObject(Value(2), "one");
    dictionary.setObject(Value(3), "three");
    dictionary.removeAllObjects();
    EXPECT_EQ(Value(snapshot), Value(Value::Dictionary{{"one", 1}}));
    EXPECT_EQ(dictionary.description(), "{}");
}

TEST(VDUMutableDictionaryTest, ManyThreadsWriteAndReadWithoutLosingEntries) {
    VDUMutableDictionary<> dictionary;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i) {
                const std::string key = std::to_string(t) + ":" + std::to_string(i);
                dictionary.setObject(Value(i), key);
                EXPECT_EQ(dictionary.objectForKey(key), Value(i));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(dictionary.count(), 800u);
}

TEST(VDUMutableDictionaryTest, HoldsSharedObjectsAndOutlivesQueuedWrites) {
    auto object = std::make_shared<int>(5);
    std::weak_ptr<int> weak = object;
    {
        VDUMutableDictionary<std::string, std::shared_ptr<int>> dictionary;
        dictionary.setObject(object, "live");
        EXPECT_EQ(*dictionary.objectForKey("live").value(), 5);
        // Writes still queued when the dictionary goes away run against live storage.
        for (int i = 0; i < 100; ++i) {
            dictionary.setObject(object, std::to_string(i));
        }
    }
    object.reset();
    for (int i = 0; i < 10000 && !weak.expired(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(weak.expired());
}

TEST(VDUMutableDictionaryTest, ReadFromItsOwnQueueIsRefused) {
    VDUMutableDictionary<> dictionary;
    bool refused = false;
    dictionary.queue()->sync([&] {
        try {
            (void)dictionary.count();
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    EXPECT_TRUE(refused);
}

}  // namespace
