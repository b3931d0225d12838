#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/installations/DUDUrareravuzersItem.h"
#include "sdk/promises/VPLPromise.h"
#include "sdk/utilities/VDUKeychainStorage.h"
#include "sdk/utilities/VDUUserDefaults.h"

// The user-defaults suite of the markers when no access group is set.
inline constexpr std::string_view kDUDUrareravuzersUserDefaultsSuite =
    "com.razudizo.DUDUrareravuzers";

// Keeps one installation record per app: the archived DUDUrareravuzersStoredItem in the
// keychain storage under the item's identifier, and a marker (boolean YES under the same key)
// in a user-defaults suite: the access group's when one is set, else
// "com.razudizo.DUDUrareravuzers".
//
// Design notes:
// 1. A record counts only while its marker exists: a keychain item left from an earlier
//    installation of the app (the keychain outlives the app, the defaults do not) reads as not
//    found, and is left alone until the next save replaces it.
// 2. Save writes the keychain object first and the marker after it; remove takes them away in
//    the same order. So a marker never points at a record that was not written.
// 3. Marker reads and writes run on the store's serial queue "com.razudizo.DUDUrareravuzersStore";
//    keychain work on the keychain storage's queues. The store keeps no lock and no cache of
//    its own; concurrent saves of one app are serialised by its caller.
//
// Queued work holds what it needs, so the store may go away with work still running. Every
// operation returns a VPLPromise and may be called from any thread.
class DUDUrareravuzersStore {
  public:
    // REQUIRES: secureStorage is not null.
    DUDUrareravuzersStore(std::shared_ptr<VDUKeychainStorage> secureStorage,
                          std::optional<std::string> accessGroup);

    // Fulfils with the stored item (a std::shared_ptr<DUDUrareravuzersItem>) for the pair;
    // rejects with the not-found error when the marker or the record is missing, or with the
    // keychain storage's error.
    VPLPromise::Ptr installationForAppID(const std::string& appID, const std::string& appName);

    // Writes the item's record, then its marker; fulfils with the null value. A keychain
    // failure rejects with its error, and no marker is written.
    VPLPromise::Ptr saveInstallation(const DUDUrareravuzersItem& item);

    // Removes the record, then the marker; fulfils with the null value. Removing nothing
    // succeeds; a keychain failure rejects and keeps the marker.
    VPLPromise::Ptr removeInstallationForAppID(const std::string& appID,
                                               const std::string& appName);

    // Fulfils with the null value when the marker of the pair exists; else rejects with the
    // not-found error.
    VPLPromise::Ptr installationExistsForAppID(const std::string& appID,
                                               const std::string& appName);

    // Sets (YES) or removes the marker under `identifier`; fulfils with the null value.
    VPLPromise::Ptr setInstallationExists(bool exists, const std::string& identifier);

    const std::shared_ptr<VDUKeychainStorage>& secureStorage() const { return secureStorage_; }
    const std::optional<std::string>& accessGroup() const { return accessGroup_; }
    const platform::QueueRef& queue() const { return queue_; }
    const VDUUserDefaults& userDefaults() const { return userDefaults_; }

  private:
    const std::shared_ptr<VDUKeychainStorage> secureStorage_;
    const std::optional<std::string> accessGroup_;
    const platform::QueueRef queue_;
    const VDUUserDefaults userDefaults_;
};
