#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/utilities/Value.h"

// A key-value map that many threads may use at once. Every access runs on the instance's own
// serial queue, labelled "VDUMutableDictionary": reads wait for their answer, writes are queued
// and return at once. Because the queue is serial, a read sees every write queued before it,
// so a thread that writes and then reads sees its own write.
//
// `Object` is any copyable type: sdk::Value for Foundation-style contents (the default), or a
// shared pointer for the SDK's live objects (running requests, interceptors).
//
// REQUIRES: reads are not made from a block that runs on this dictionary's queue (it never
// calls out while on it, so only a misuse of `queue()` can do that); such a read throws
// std::logic_error instead of waiting on itself.
template <typename Key = std::string, typename Object = sdk::Value>
class VDUMutableDictionary {
  public:
    using Map = std::map<Key, Object, std::less<>>;

    // Makes an empty dictionary with its own queue.
    VDUMutableDictionary()
        : objects_(std::make_shared<Map>()),
          queue_(platform::DispatchQueue::createSerial("VDUMutableDictionary")) {}

    VDUMutableDictionary(const VDUMutableDictionary&) = delete;
    VDUMutableDictionary& operator=(const VDUMutableDictionary&) = delete;

    // The object stored under `key`; no value when there is none. Waits for queued writes.
    std::optional<Object> objectForKey(const Key& key) const {
        std::optional<Object> result;
        queue_->sync([&] {
            auto it = objects_->find(key);
            if (it != objects_->end()) {
                result = it->second;
            }
        });
        return result;
    }

    // Subscript read: the same as `objectForKey`.
    std::optional<Object> objectForKeyedSubscript(const Key& key) const {
        return objectForKey(key);
    }

    // Stores `object` under `key`, replacing an earlier one; no value (nil) removes the key.
    // Returns at once.
    void setObject(std::optional<Object> object, Key key) {
        queue_->async([objects = objects_, object = std::move(object), key = std::move(key)] {
            if (object) {
                objects->insert_or_assign(key, *object);
            } else {
                objects->erase(key);
            }
        });
    }

    // Subscript write: the same as `setObject`.
    void setObjectForKeyedSubscript(std::optional<Object> object, Key key) {
        setObject(std::move(object), std::move(key));
    }

    // Removes the entry for `key`, if any. Returns at once.
    void removeObjectForKey(Key key) {
        queue_->async([objects = objects_, key = std::move(key)] { objects->erase(key); });
    }

    // Removes every entry. Returns at once.
    void removeAllObjects() {
        queue_->async([objects = objects_] { objects->clear(); });
    }

    // The number of entries.
    std::size_t count() const {
        std::size_t result = 0;
        queue_->sync([&] { result = objects_->size(); });
        return result;
    }

    // The keys, in key order.
    std::vector<Key> allKeys() const {
        std::vector<Key> result;
        queue_->sync([&] {
            result.reserve(objects_->size());
            for (const auto& entry : *objects_) {
                result.push_back(entry.first);
            }
        });
        return result;
    }

    // A copy of the contents; later changes of the dictionary do not reach it.
    Map dictionary() const {
        Map result;
        queue_->sync([&] { result = *objects_; });
        return result;
    }

    // The contents rendered as a Value's description.
    std::string description() const
        requires(std::is_same_v<Key, std::string>&& std::is_same_v<Object, sdk::Value>) {
        return sdk::Value(dictionary()).description();
    }

    // The queue every access runs on.
    const platform::QueueRef& queue() const { return queue_; }

  private:
    // Shared with queued writes, so a write still queued when the dictionary goes away
    // touches live memory. Touched only on queue_.
    const std::shared_ptr<Map> objects_;
    const platform::QueueRef queue_;
};
