#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

// A small in-memory cache that keeps at most `countLimit` objects and, when full, evicts the
// one used least recently (read or stored). It locks itself, so any thread may use it at any
// time; `Object` is copied out, so it should be cheap to copy (a shared pointer).
template <typename Key, typename Object>
class VDULRUCache {
  public:
    // REQUIRES: countLimit > 0.
    explicit VDULRUCache(std::size_t countLimit) : countLimit_(countLimit) {}

    VDULRUCache(const VDULRUCache&) = delete;
    VDULRUCache& operator=(const VDULRUCache&) = delete;

    std::size_t countLimit() const { return countLimit_; }

    // The object under `key`, now the most recently used; no value when absent.
    std::optional<Object> objectForKey(const Key& key) {
        std::lock_guard lock(mutex_);
        auto found = index_.find(key);
        if (found == index_.end()) {
            return std::nullopt;
        }
        entries_.splice(entries_.begin(), entries_, found->second);
        return found->second->second;
    }

    // Stores `object` under `key` as the most recently used, evicting the least recently used
    // entry when the cache is full.
    void setObject(Object object, const Key& key) {
        std::lock_guard lock(mutex_);
        if (auto found = index_.find(key); found != index_.end()) {
            found->second->second = std::move(object);
            entries_.splice(entries_.begin(), entries_, found->second);
            return;
        }
        if (entries_.size() >= countLimit_) {
            index_.erase(entries_.back().first);
            entries_.pop_back();
        }
        entries_.emplace_front(key, std::move(object));
        index_.emplace(key, entries_.begin());
    }

    void removeObjectForKey(const Key& key) {
        std::lock_guard lock(mutex_);
        if (auto found = index_.find(key); found != index_.end()) {
            entries_.erase(found->second);
            index_.erase(found);
        }
    }

    void removeAllObjects() {
        std::lock_guard lock(mutex_);
        entries_.clear();
        index_.clear();
    }

    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return entries_.size();
    }

  private:
    using Entries = std::list<std::pair<Key, Object>>;

    const std::size_t countLimit_;
    mutable std::mutex mutex_;
    Entries entries_;  // guarded by mutex_; most recently used first
    std::map<Key, typename Entries::iterator, std::less<>> index_;  // guarded by mutex_
};
