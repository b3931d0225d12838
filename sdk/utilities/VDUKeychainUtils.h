#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/secretstore/SecretStore.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

// The keychain's item operations, synchronous, over the secret store (platform/secretstore). A
// query is a dictionary keyed by the store's names (platform::kSecClass, kSecAttrService, ...);
// kSecUseKeychain or kSecMatchSearchList name the keychain folder, else the default keychain is
// used. Every query is sent with kSecUseDataProtectionKeychain = true.
//
// Failures are errors of domain "com.vdu.keychain.ErrorDomain", code 0, whose failure reason
// names the failing item function and its status. The error out-parameters may be null.
// All members may be called from any thread; they block on file work.
class VDUKeychainUtils {
  public:
    VDUKeychainUtils() = delete;

    // The data of the first item matching `query`. No item: no value and `*error` OK. Any other
    // failure: no value and the error for "SecItemCopyMatching".
    static std::optional<sdk::Bytes> getItemWithQuery(const sdk::Value::Dictionary& query,
                                                      sdk::Error* error);

    // Stores `data` in the items matching `query` when there are any, else adds one item made
    // of the query, with accessibility "after first unlock, this device only". A failed read
    // stops before anything is written. Returns false with the error for "SecItemCopyMatching",
    // "SecItemUpdate" or "SecItemAdd".
    static bool setItem(const sdk::Bytes& data, const sdk::Value::Dictionary& query,
                        sdk::Error* error);

    // Deletes every item matching `query`; deleting nothing succeeds. Returns false with the
    // error for "SecItemDelete".
    static bool removeItemWithQuery(const sdk::Value::Dictionary& query, sdk::Error* error);

    // `query` with kSecUseDataProtectionKeychain = true.
    static sdk::Value::Dictionary multiplatformQueryWithQuery(const sdk::Value::Dictionary& query);

    // The error for a failed `function` with `status`: reason "<function> (<status>)".
    static sdk::Error keychainErrorWithFunction(std::string_view function,
                                                platform::SecStatus status);
};

// The keychain errors' domain.
inline constexpr std::string_view kVDUKeychainErrorDomain = "com.vdu.keychain.ErrorDomain";
// The user-info key of an error's failure reason.
inline constexpr std::string_view kLocalizedFailureReasonErrorKey = "NSLocalizedFailureReason";
