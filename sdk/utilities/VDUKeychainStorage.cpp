#include "sdk/utilities/VDUKeychainStorage.h"

#include <cassert>

#include "sdk/utilities/VDUKeychainUtils.h"
#include "sdk/utilities/VDUKeyedArchiver.h"
#include "sdk/utilities/VDUKeyedUnarchiver.h"

namespace {

constexpr std::size_t kDefaultCountLimit = 5;

}  // namespace

VDUKeychainStorage::VDUKeychainStorage(std::string service)
    : VDUKeychainStorage(std::move(service), std::make_shared<Cache>(kDefaultCountLimit)) {}

VDUKeychainStorage::VDUKeychainStorage(std::string service, std::shared_ptr<Cache> cache)
    : state_(std::make_shared<State>(
          std::move(service), std::move(cache),
          platform::DispatchQueue::createSerial("com.vdu.KeychainStorage.Keychain"),
          platform::DispatchQueue::createSerial("com.vdu.KeychainStorage.InMemoryCache"))) {
    assert(state_->cache != nullptr);
}

std::shared_ptr<platform::SecretStore> VDUKeychainStorage::keychainRef() const {
    std::lock_guard lock(state_->mutex);
    return state_->keychainRef;
}

void VDUKeychainStorage::setKeychainRef(std::shared_ptr<platform::SecretStore> keychain) {
    std::lock_guard lock(state_->mutex);
    state_->keychainRef = std::move(keychain);
}

sdk::Value::Dictionary VDUKeychainStorage::keychainQueryWithKey(
    std::string_view key, const std::optional<std::string>& accessGroup) const {
    return state_->query(key, accessGroup);
}

sdk::Value::Dictionary VDUKeychainStorage::State::query(
    std::string_view key, const std::optional<std::string>& accessGroup) const {
    sdk::Value::Dictionary query{
        {std::string(platform::kSecClass), platform::kSecClassGenericPassword},
        {std::string(platform::kSecAttrService), service},
        {std::string(platform::kSecAttrAccount), key},
        {std::string(platform::kSecUseDataProtectionKeychain), true},
    };
    if (accessGroup) {
        query.emplace(std::string(platform::kSecAttrAccessGroup), *accessGroup);
    }
    std::lock_guard lock(mutex);
    if (keychainRef) {
        const std::string folder = keychainRef->folder().string();
        query.emplace(std::string(platform::kSecUseKeychain), folder);
        query.emplace(std::string(platform::kSecMatchSearchList), sdk::Value::Array{folder});
    }
    return query;
}

void VDUKeychainStorage::getObjectForKey(std::string key, VDUArchiveClass objectClass,
                                         std::optional<std::string> accessGroup,
                                         ObjectCompletion completion) {
    state_->cacheQueue->async([state = state_, key = std::move(key),
                               objectClass = std::move(objectClass), group = std::move(accessGroup),
                               completion = std::move(completion)]() mutable {
        std::optional<Object> cached = state->cache->objectForKey(key);
        if (cached && (*cached)->archiveClassName() == objectClass.name) {
            completion(*cached, sdk::Error::OK());
            return;
        }
        const std::uint64_t generation = state->generation.load();
        state->keychainQueue->async([state, key = std::move(key),
                                     objectClass = std::move(objectClass), group = std::move(group),
                                     generation, completion = std::move(completion)] {
            state->read(state, key, objectClass, group, generation, completion);
        });
    });
}

void VDUKeychainStorage::getObjectFromKeychainForKey(std::string key, VDUArchiveClass objectClass,
                                                     std::optional<std::string> accessGroup,
                                                     ObjectCompletion completion) {
    const std::uint64_t generation = state_->generation.load();
    state_->keychainQueue->async(
        [state = state_, key = std::move(key), objectClass = std::move(objectClass),
         group = std::move(accessGroup), generation, completion = std::move(completion)] {
            state->read(state, key, objectClass, group, generation, completion);
        });
}

void VDUKeychainStorage::State::read(const std::shared_ptr<State>& self, const std::string& key,
                                     const VDUArchiveClass& objectClass,
                                     const std::optional<std::string>& group,
                                     std::uint64_t seenGeneration,
                                     const ObjectCompletion& completion) {
    sdk::Error error;
    std::optional<sdk::Bytes> data = VDUKeychainUtils::getItemWithQuery(query(key, group), &error);
    if (!error.ok() || !data) {
        completion(nullptr, error);
        return;
    }
    Object object;
    error = VDUKeyedUnarchiver::unarchivedObjectOfClass(objectClass, *data, &object);
    if (!error.ok()) {
        completion(nullptr, error);
        return;
    }
    cacheQueue->async([self, key, object, seenGeneration, completion] {
        if (self->generation.load() == seenGeneration) {
            self->cache->setObject(object, key);
        }
        completion(object, sdk::Error::OK());
    });
}

void VDUKeychainStorage::setObject(Object object, std::string key,
                                   std::optional<std::string> accessGroup,
                                   ObjectCompletion completion) {
    assert(object != nullptr);
    state_->cacheQueue->async([state = state_, object = std::move(object), key = std::move(key),
                               group = std::move(accessGroup),
                               completion = std::move(completion)]() mutable {
        ++state->generation;
        state->cache->setObject(object, key);
        state->keychainQueue->async(
            [state, object = std::move(object), key = std::move(key), group = std::move(group),
             completion = std::move(completion)] { state->write(object, key, group, completion); });
    });
}

void VDUKeychainStorage::State::write(const Object& object, const std::string& key,
                                      const std::optional<std::string>& group,
                                      const ObjectCompletion& completion) {
    sdk::Bytes data;
    sdk::Error error = VDUKeyedArchiver::archivedDataWithRootObject(*object, &data);
    if (error.ok()) {
        (void)VDUKeychainUtils::setItem(data, query(key, group), &error);
    }
    if (!error.ok()) {
        // Nothing was stored: the cache must not answer with the object (design note 2).
        ++generation;
        cache->removeObjectForKey(key);
        completion(nullptr, error);
        return;
    }
    completion(object, sdk::Error::OK());
}

void VDUKeychainStorage::removeObjectForKey(std::string key, std::optional<std::string> accessGroup,
                                            ErrorCompletion completion) {
    state_->cacheQueue->async([state = state_, key = std::move(key), group = std::move(accessGroup),
                               completion = std::move(completion)]() mutable {
        ++state->generation;
        state->cache->removeObjectForKey(key);
        state->keychainQueue->async([state, key = std::move(key), group = std::move(group),
                                     completion = std::move(completion)] {
            sdk::Error error;
            (void)VDUKeychainUtils::removeItemWithQuery(state->query(key, group), &error);
            completion(error);
        });
    });
}

void VDUKeychainStorage::resetInMemoryCache() {
    ++state_->generation;
    state_->cache->removeAllObjects();
}
