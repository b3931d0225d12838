#pragma once

#include <string>

#include "sdk/promises/VPLPromise.h"
#include "sdk/utilities/Value.h"

// Reads the default token of the older instance-ID library, which the registration of a
// migrated installation sends once: the generic-password item with the generic attribute
// "com.vovidu.iid-tokens", the main bundle's identifier as account and "<sender ID>:*" as
// service, whose data is a keyed archive of an "RZDInstanceIDTokenInfo".
//
// Work runs on the dispatch global queue; `existingIIDDefaultToken` may be called from any
// thread.
class DUDUrareravuzersIIDTokenStore {
  public:
    // `RCMSenderID` is the app options' sender ID (empty when the options have none).
    explicit DUDUrareravuzersIIDTokenStore(std::string RCMSenderID);

    // Fulfils with the stored token (a non-empty string). Rejects with the keychain's error, or
    // with the corrupted-token error when there is no item, the archive cannot be read or the
    // token is empty.
    VPLPromise::Ptr existingIIDDefaultToken();

    // The item query (without return options).
    sdk::Value::Dictionary IIDDefaultTokenDataKeychainQuery() const;

    const std::string& RCMSenderID() const { return RCMSenderID_; }

  private:
    const std::string RCMSenderID_;
};
