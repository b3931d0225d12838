#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/promises/VPLPromise.h"
#include "sdk/utilities/Value.h"

// Reads and clears the identity of the older instance-ID library, which a new installation of
// the default app carries over once: a marker property list under Application Support
// ("Vovidu/RazudizoInstanceID/com.vovidu.iid-keypair.plist", key "|S|cre") and an RSA key pair
// in the keychain, tagged "com.vovidu.iid.keypair.public-" / "private-" + the main bundle's
// identifier. The identity is derived from the public key's bytes.
//
// Work runs on the dispatch global queue; every operation returns a VPLPromise and may be
// called from any thread. The object holds no state besides `keychainRef`.
class DUDUrareravuzersIIDStore {
  public:
    // The key queries use the default keychain, or the one in `keychainRef` (its folder) when
    // set.
    explicit DUDUrareravuzersIIDStore(std::optional<std::filesystem::path> keychainRef = {});

    // Fulfils with the legacy identity: SHA-1 of the public key's bytes, the first byte set to
    // 0x70 | its low four bits, the first 8 bytes in base64url without padding (11 characters
    // beginning with c, d, e or f). Rejects (the promise library's validation failure) when the
    // marker or the public key is missing: without a key there is no identity to carry over.
    VPLPromise::Ptr existingIID();

    // Removes "|S|cre" from the marker property list (a missing file is fine), then deletes the
    // public and the private key items. Fulfils with the null value; rejects with the file's
    // error, or with the keychain error of "SecItemDelete" for a status other than success or
    // item-not-found (the remaining steps are then skipped).
    VPLPromise::Ptr deleteExistingIID();

    // The marker property list's path, read from the environment on every call.
    static std::filesystem::path IIDCheckinPlistPath();

    // The key query of the public or private key: class key, key type RSA, the application tag
    // as data, and the keychain folder when set. No value when the main bundle has no
    // identifier (a query without a tag would match every RSA key).
    std::optional<sdk::Value::Dictionary> keyPairQuery(bool publicKey) const;

    const std::optional<std::filesystem::path>& keychainRef() const { return keychainRef_; }

  private:
    const std::optional<std::filesystem::path> keychainRef_;
};

// The marker key of the legacy identity in its property list.
inline constexpr std::string_view kDUDUrareravuzersIIDCreationTimePlistKey = "|S|cre";
