#include "sdk/utilities/VDUKeychainUtils.h"

#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

using platform::SecStatus;

void setError(sdk::Error* out, sdk::Error error) {
    if (out != nullptr) {
        *out = std::move(error);
    }
}

// The query in the secret store's form; a value without a property-list form is a bad
// parameter of the call.
SecStatus toStoreQuery(const sdk::Value::Dictionary& query, platform::PlistDictionary* out) {
    platform::PlistValue converted;
    if (!sdk::plistValueFromValue(sdk::Value(query), &converted).ok()) {
        return platform::errSecParam;
    }
    *out = *converted.getIf<platform::PlistDictionary>();
    return platform::errSecSuccess;
}

}  // namespace

sdk::Value::Dictionary VDUKeychainUtils::multiplatformQueryWithQuery(
    const sdk::Value::Dictionary& query) {
    sdk::Value::Dictionary result = query;
    result.insert_or_assign(std::string(platform::kSecUseDataProtectionKeychain), true);
    return result;
}

sdk::Error VDUKeychainUtils::keychainErrorWithFunction(std::string_view function,
                                                       SecStatus status) {
    std::string reason =
        sdk::formatString("%@ (%li)", {{sdk::FormatArg(function), sdk::FormatArg(status)}});
    return sdk::Error(std::string(kVDUKeychainErrorDomain), 0, {},
                      {{std::string(kLocalizedFailureReasonErrorKey), reason}});
}

std::optional<sdk::Bytes> VDUKeychainUtils::getItemWithQuery(const sdk::Value::Dictionary& query,
                                                             sdk::Error* error) {
    sdk::Value::Dictionary full = multiplatformQueryWithQuery(query);
    full.insert_or_assign(std::string(platform::kSecReturnData), true);
    full.insert_or_assign(std::string(platform::kSecMatchLimit), platform::kSecMatchLimitOne);
    platform::PlistDictionary storeQuery;
    platform::PlistData data;
    SecStatus status = toStoreQuery(full, &storeQuery);
    if (status == platform::errSecSuccess) {
        status = platform::SecretStore::forQuery(storeQuery)->copyMatching(storeQuery, &data);
    }
    if (status == platform::errSecSuccess) {
        setError(error, sdk::Error::OK());
        return std::move(data.bytes);
    }
    setError(error, status == platform::errSecItemNotFound
                        ? sdk::Error::OK()
                        : keychainErrorWithFunction("SecItemCopyMatching", status));
    return std::nullopt;
}

bool VDUKeychainUtils::setItem(const sdk::Bytes& data, const sdk::Value::Dictionary& query,
                               sdk::Error* error) {
    sdk::Value::Dictionary full = multiplatformQueryWithQuery(query);
    // Without the caller's error out the read's failure would go unseen; it stops the write
    // either way, so an unreadable keychain is never written blind.
    sdk::Error readError;
    std::optional<sdk::Bytes> existing = getItemWithQuery(full, &readError);
    if (!readError.ok()) {
        setError(error, readError);
        return false;
    }
    platform::PlistDictionary storeQuery;
    SecStatus status = toStoreQuery(full, &storeQuery);
    const char* function = existing ? "SecItemUpdate" : "SecItemAdd";
    if (status == platform::errSecSuccess) {
        auto store = platform::SecretStore::forQuery(storeQuery);
        platform::PlistDictionary added = storeQuery;
        added.insert_or_assign(
            std::string(platform::kSecAttrAccessible),
            std::string(platform::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly));
        added.insert_or_assign(std::string(platform::kSecValueData), platform::PlistData{data});
        // The read above took no lock: another process may add or remove the item before this
        // write. Each store call decides under the folder lock, so an add that finds the item
        // becomes an update, and an update that finds none an add, for a few rounds.
        bool update = existing.has_value();
        for (int attempt = 0; attempt < 4; ++attempt) {
            function = update ? "SecItemUpdate" : "SecItemAdd";
            status =
                update ? store->update(storeQuery, platform::PlistData{data}) : store->add(added);
            if ((update && status == platform::errSecItemNotFound) ||
                (!update && status == platform::errSecDuplicateItem)) {
                update = !update;
                continue;
            }
            break;
        }
    }
    if (status != platform::errSecSuccess) {
        setError(error, keychainErrorWithFunction(function, status));
        return false;
    }
    setError(error, sdk::Error::OK());
    return true;
}

bool VDUKeychainUtils::removeItemWithQuery(const sdk::Value::Dictionary& query, sdk::Error* error) {
    platform::PlistDictionary storeQuery;
    SecStatus status = toStoreQuery(multiplatformQueryWithQuery(query), &storeQuery);
    if (status == platform::errSecSuccess) {
        status = platform::SecretStore::forQuery(storeQuery)->remove(storeQuery);
    }
    if (status != platform::errSecSuccess && status != platform::errSecItemNotFound) {
        setError(error, keychainErrorWithFunction("SecItemDelete", status));
        return false;
    }
    setError(error, sdk::Error::OK());
    return true;
}
