#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/secretstore/SecretStore.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUArchivable.h"
#include "sdk/utilities/VDULRUCache.h"
#include "sdk/utilities/Value.h"

// An asynchronous object store in the keychain: each object is kept, archived, as the
// generic-password item of (service, key, access group), with a small in-memory cache in front.
//
// Design notes:
// 1. Cache work runs on the serial queue "com.vdu.KeychainStorage.InMemoryCache", keychain
//    work on "com.vdu.KeychainStorage.Keychain"; every completion runs on one of the two, never
//    on the caller's thread. A get, set or remove first visits the cache queue, then the
//    keychain queue, so the keychain sees the operations in the order they were made.
// 2. A set caches the object at once, so a get made after it answers the new object even before
//    the write has finished. A write that fails (or an object that cannot be archived) takes the
//    key out of the cache again before its completion runs: the cache never holds an object the
//    keychain does not.
// 3. An object read from the keychain is cached only when no set, remove or reset happened since
//    the get missed the cache (a generation count), so a slow read cannot put back an object
//    that a later set or remove replaced.
// 4. A cached object answers only a get that asks for its class; a get for another class reads
//    the keychain, whose archive then fails as the wrong class.
// 5. The cache locks itself, so `resetInMemoryCache` empties it at once from any thread.
//
// Queued blocks hold the store's state, so the store may be destroyed with work still queued;
// that work and its completions still run. All members may be called from any thread.
class VDUKeychainStorage {
  public:
    using Object = std::shared_ptr<const VDUArchivable>;
    using Cache = VDULRUCache<std::string, Object>;
    // (object or null, error or OK).
    using ObjectCompletion = std::function<void(Object object, sdk::Error error)>;
    using ErrorCompletion = std::function<void(sdk::Error error)>;

    // A store whose items carry `service`, with a cache of at most 5 objects.
    explicit VDUKeychainStorage(std::string service);

    // The same with `cache`, which may be shared.
    // REQUIRES: cache is not null.
    VDUKeychainStorage(std::string service, std::shared_ptr<Cache> cache);

    // Answers the object stored under `key` as `objectClass`: from the cache when it holds one
    // of that class, else from the keychain. Never stored: (null, OK). A keychain or archive
    // failure: (null, error).
    void getObjectForKey(std::string key, VDUArchiveClass objectClass,
                         std::optional<std::string> accessGroup, ObjectCompletion completion);

    // Caches `object`, then archives it and adds or updates its item. The completion reports the
    // keychain's outcome: (object, OK) or (null, error).
    // REQUIRES: object is not null.
    void setObject(Object object, std::string key, std::optional<std::string> accessGroup,
                   ObjectCompletion completion);

    // Takes `key` out of the cache and deletes its item; deleting nothing succeeds.
    void removeObjectForKey(std::string key, std::optional<std::string> accessGroup,
                            ErrorCompletion completion);

    // The keychain half of a get: reads, unarchives and caches the object, without looking into
    // the cache first.
    void getObjectFromKeychainForKey(std::string key, VDUArchiveClass objectClass,
                                     std::optional<std::string> accessGroup,
                                     ObjectCompletion completion);

    // Empties the cache at once.
    void resetInMemoryCache();

    // The item query of `key`: class generic password, the service, the key as account, the
    // access group when given, kSecUseDataProtectionKeychain, and the keychain folder (as
    // kSecUseKeychain and kSecMatchSearchList) when `keychainRef` is set.
    sdk::Value::Dictionary keychainQueryWithKey(
        std::string_view key, const std::optional<std::string>& accessGroup) const;

    // The keychain the items go to; null (the default keychain) unless set.
    std::shared_ptr<platform::SecretStore> keychainRef() const;
    void setKeychainRef(std::shared_ptr<platform::SecretStore> keychain);

    const std::string& service() const { return state_->service; }
    const platform::QueueRef& keychainQueue() const { return state_->keychainQueue; }
    const platform::QueueRef& inMemoryCacheQueue() const { return state_->cacheQueue; }
    const std::shared_ptr<Cache>& inMemoryCache() const { return state_->cache; }

  private:
    struct State {
        // Spelled out: clang 14 (the fuzz build's compiler) has no parenthesised aggregate
        // initialisation for make_shared.
        State(std::string service, std::shared_ptr<Cache> cache, platform::QueueRef keychainQueue,
              platform::QueueRef cacheQueue)
            : service(std::move(service)),
              cache(std::move(cache)),
              keychainQueue(std::move(keychainQueue)),
              cacheQueue(std::move(cacheQueue)) {}

        const std::string service;
        const std::shared_ptr<Cache> cache;
        const platform::QueueRef keychainQueue;
        const platform::QueueRef cacheQueue;
        // Counts sets, removes, failed writes and resets (design note 3).
        std::atomic<std::uint64_t> generation{0};
        mutable std::mutex mutex;
        std::shared_ptr<platform::SecretStore> keychainRef;  // guarded by mutex

        sdk::Value::Dictionary query(std::string_view key,
                                     const std::optional<std::string>& accessGroup) const;
        // On the keychain queue.
        void read(const std::shared_ptr<State>& self, const std::string& key,
                  const VDUArchiveClass& objectClass, const std::optional<std::string>& group,
                  std::uint64_t generation, const ObjectCompletion& completion);
        void write(const Object& object, const std::string& key,
                   const std::optional<std::string>& group, const ObjectCompletion& completion);
    };

    std::shared_ptr<State> state_;
};
