#include "sdk/installations/DUDUrareravuzersStore.h"

#include <cassert>
#include <utility>

#include "sdk/installations/DUDUrareravuzersErrors.h"

namespace {

constexpr std::string_view kStoreQueueLabel = "com.razudizo.DUDUrareravuzersStore";

}  // namespace

DUDUrareravuzersStore::DUDUrareravuzersStore(std::shared_ptr<VDUKeychainStorage> secureStorage,
                                             std::optional<std::string> accessGroup)
    : secureStorage_(std::move(secureStorage)),
      accessGroup_(std::move(accessGroup)),
      queue_(platform::DispatchQueue::createSerial(std::string(kStoreQueueLabel))),
      userDefaults_(accessGroup_ ? std::string_view(*accessGroup_)
                                 : kDUDUrareravuzersUserDefaultsSuite) {
    assert(secureStorage_ != nullptr);
}

VPLPromise::Ptr DUDUrareravuzersStore::installationForAppID(const std::string& appID,
                                                            const std::string& appName) {
    const std::string identifier = DUDUrareravuzersItem::identifierWithAppID(appID, appName);
    return VPLPromise::async(queue_, [=, defaults = userDefaults_, storage = secureStorage_,
                                      group = accessGroup_](VPLPromise::Fulfill fulfill,
                                                            VPLPromise::Reject reject) {
        if (!defaults.objectForKey(identifier)) {
            reject(DUDUrareravuzersErrorUtil::installationItemNotFoundForAppID(appID, appName));
            return;
        }
        storage->getObjectForKey(
            identifier, VDUArchiveClass::of<DUDUrareravuzersStoredItem>(), group,
            [=](VDUKeychainStorage::Object object, sdk::Error error) {
                if (!error.ok()) {
                    reject(error);
                    return;
                }
                auto stored = std::dynamic_pointer_cast<const DUDUrareravuzersStoredItem>(object);
                if (stored == nullptr) {
                    reject(DUDUrareravuzersErrorUtil::installationItemNotFoundForAppID(appID,
                                                                                       appName));
                    return;
                }
                auto item = std::make_shared<DUDUrareravuzersItem>(appID, appName);
                item->updateWithStoredItem(*stored);
                fulfill(VPLValue(std::move(item)));
            });
    });
}

VPLPromise::Ptr DUDUrareravuzersStore::saveInstallation(const DUDUrareravuzersItem& item) {
    std::shared_ptr<DUDUrareravuzersStoredItem> stored = item.storedItem();
    const std::string identifier = item.identifier();
    return VPLPromise::async(
        queue_, [=, storage = secureStorage_, group = accessGroup_, queue = queue_,
                 defaults = userDefaults_](VPLPromise::Fulfill fulfill, VPLPromise::Reject reject) {
            storage->setObject(stored, identifier, group,
                               [=](VDUKeychainStorage::Object, sdk::Error error) {
                                   if (!error.ok()) {
                                       reject(error);
                                       return;
                                   }
                                   queue->async([=]() mutable {
                                       defaults.setBool(true, identifier);
                                       fulfill(VPLValue(sdk::Value()));
                                   });
                               });
        });
}

VPLPromise::Ptr DUDUrareravuzersStore::removeInstallationForAppID(const std::string& appID,
                                                                  const std::string& appName) {
    const std::string identifier = DUDUrareravuzersItem::identifierWithAppID(appID, appName);
    return VPLPromise::async(
        queue_, [=, storage = secureStorage_, group = accessGroup_, queue = queue_,
                 defaults = userDefaults_](VPLPromise::Fulfill fulfill, VPLPromise::Reject reject) {
            storage->removeObjectForKey(identifier, group, [=](sdk::Error error) {
                if (!error.ok()) {
                    reject(error);
                    return;
                }
                queue->async([=]() mutable {
                    defaults.removeObjectForKey(identifier);
                    fulfill(VPLValue(sdk::Value()));
                });
            });
        });
}

VPLPromise::Ptr DUDUrareravuzersStore::installationExistsForAppID(const std::string& appID,
                                                                  const std::string& appName) {
    const std::string identifier = DUDUrareravuzersItem::identifierWithAppID(appID, appName);
    return VPLPromise::async(queue_, [=, defaults = userDefaults_](VPLPromise::Fulfill fulfill,
                                                                   VPLPromise::Reject reject) {
        if (defaults.objectForKey(identifier)) {
            fulfill(VPLValue(sdk::Value()));
        } else {
            reject(DUDUrareravuzersErrorUtil::installationItemNotFoundForAppID(appID, appName));
        }
    });
}

VPLPromise::Ptr DUDUrareravuzersStore::setInstallationExists(bool exists,
                                                             const std::string& identifier) {
    return VPLPromise::async(queue_, [=, defaults = userDefaults_](VPLPromise::Fulfill fulfill,
                                                                   VPLPromise::Reject) mutable {
        if (exists) {
            defaults.setBool(true, identifier);
        } else {
            defaults.removeObjectForKey(identifier);
        }
        fulfill(VPLValue(sdk::Value()));
    });
}
