#include "sdk/installations/DUDUrareravuzersIIDStore.h"

#include <openssl/evp.h>

#include <array>
#include <system_error>
#include <utility>

#include "platform/bundle/Bundle.h"
#include "platform/folders/Folders.h"
#include "platform/preferences/PlistCodec.h"
#include "platform/preferences/PreferencesFileSystem.h"
#include "platform/secretstore/SecretStore.h"
#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/installations/DUDUrareravuzersItem.h"
#include "sdk/utilities/VDUKeychainUtils.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxPlistSize = 1u << 20;
constexpr std::string_view kPublicTagPrefix = "com.vovidu.iid.keypair.public-";
constexpr std::string_view kPrivateTagPrefix = "com.vovidu.iid.keypair.private-";

// The marker property list as a dictionary; no value (and `*error` set) when it cannot be read
// or is not a dictionary; no value and `*error` ENOENT when it does not exist.
std::optional<platform::PlistDictionary> readPlist(const fs::path& path, std::error_code* error) {
    std::string bytes;
    *error = platform::systemFileSystem().readFile(path, kMaxPlistSize, &bytes);
    if (*error) {
        return std::nullopt;
    }
    std::optional<platform::PlistValue> value = platform::decodePlist(bytes);
    const platform::PlistDictionary* dictionary =
        value ? value->getIf<platform::PlistDictionary>() : nullptr;
    if (dictionary == nullptr) {
        *error = std::make_error_code(std::errc::illegal_byte_sequence);
        return std::nullopt;
    }
    return *dictionary;
}

sdk::Error fileError(const fs::path& path, std::error_code error) {
    return DUDUrareravuzersErrorUtil::installationsErrorWithCode(
        DUDUrareravuzersErrorCode::unknown,
        "Failed to update " + path.string() + ": " + error.message(), sdk::Error());
}

std::string IIDFromPublicKey(const sdk::Bytes& key) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(key.data(), key.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1 ||
        length < 8) {
        return {};
    }
    digest[0] = static_cast<unsigned char>(0x70 | (digest[0] & 0x0f));
    std::string IID = DUDUrareravuzersItem::base64URLEncodedStringWithData(
        sdk::Bytes(digest.begin(), digest.begin() + 8));
    std::erase(IID, '=');
    return IID;
}

// Deletes the items of `query`; item-not-found counts as success.
sdk::Error deleteKey(const sdk::Value::Dictionary& query) {
    platform::PlistValue converted;
    if (!sdk::plistValueFromValue(sdk::Value(query), &converted).ok()) {
        return DUDUrareravuzersErrorUtil::keychainErrorWithFunction("SecItemDelete",
                                                                    platform::errSecParam);
    }
    const auto& storeQuery = *converted.getIf<platform::PlistDictionary>();
    const platform::SecStatus status =
        platform::SecretStore::forQuery(storeQuery)->remove(storeQuery);
    if (status != platform::errSecSuccess && status != platform::errSecItemNotFound) {
        return DUDUrareravuzersErrorUtil::keychainErrorWithFunction("SecItemDelete", status);
    }
    return sdk::Error();
}

}  // namespace

DUDUrareravuzersIIDStore::DUDUrareravuzersIIDStore(std::optional<fs::path> keychainRef)
    : keychainRef_(std::move(keychainRef)) {}

fs::path DUDUrareravuzersIIDStore::IIDCheckinPlistPath() {
    return platform::applicationSupportFolder() / "Vovidu" / "RazudizoInstanceID" /
           "com.vovidu.iid-keypair.plist";
}

std::optional<sdk::Value::Dictionary> DUDUrareravuzersIIDStore::keyPairQuery(bool publicKey) const {
    const std::string bundleIdentifier = platform::Bundle::mainBundleIdentifier();
    if (bundleIdentifier.empty()) {
        return std::nullopt;
    }
    const std::string tag =
        std::string(publicKey ? kPublicTagPrefix : kPrivateTagPrefix) + bundleIdentifier;
    sdk::Value::Dictionary query{
        {std::string(platform::kSecClass), sdk::Value(platform::kSecClassKey)},
        {std::string(platform::kSecAttrKeyType), sdk::Value(platform::kSecAttrKeyTypeRSA)},
        {std::string(platform::kSecAttrApplicationTag),
         sdk::Value(sdk::Bytes(tag.begin(), tag.end()))}};
    if (keychainRef_) {
        query.emplace(std::string(platform::kSecMatchSearchList),
                      sdk::Value(sdk::Value::Array{sdk::Value(keychainRef_->string())}));
    }
    return query;
}

VPLPromise::Ptr DUDUrareravuzersIIDStore::existingIID() {
    std::optional<sdk::Value::Dictionary> query = keyPairQuery(true);
    const platform::QueueRef& queue = platform::DispatchQueue::global();
    return VPLPromise::doWork(
               queue,
               [query = std::move(query)]() -> VPLValue {
                   std::error_code error;
                   std::optional<platform::PlistDictionary> plist =
                       readPlist(IIDCheckinPlistPath(), &error);
                   if (!plist || !plist->contains(kDUDUrareravuzersIIDCreationTimePlistKey) ||
                       !query) {
                       return VPLValue();
                   }
                   sdk::Value::Dictionary lookup = *query;
                   lookup.emplace(std::string(platform::kSecReturnData), sdk::Value(true));
                   sdk::Error lookupError;
                   std::optional<sdk::Bytes> key =
                       VDUKeychainUtils::getItemWithQuery(lookup, &lookupError);
                   // No key, no identity: a digest of nothing would give every
                   // device the same ID.
                   if (!key || key->empty()) {
                       return VPLValue();
                   }
                   return VPLValue(IIDFromPublicKey(*key));
               })
        ->validate(queue, [](const VPLValue& value) {
            return value.value() != nullptr && value.value()->string() != nullptr &&
                   !value.value()->string()->empty();
        });
}

VPLPromise::Ptr DUDUrareravuzersIIDStore::deleteExistingIID() {
    std::optional<sdk::Value::Dictionary> publicQuery = keyPairQuery(true);
    std::optional<sdk::Value::Dictionary> privateQuery = keyPairQuery(false);
    return VPLPromise::doWork(platform::DispatchQueue::global(), [=]() -> VPLValue {
        const fs::path path = IIDCheckinPlistPath();
        std::error_code error;
        std::optional<platform::PlistDictionary> plist = readPlist(path, &error);
        if (plist) {
            plist->erase(std::string(kDUDUrareravuzersIIDCreationTimePlistKey));
            error = platform::writeFileAtomically(platform::systemFileSystem(), path,
                                                  platform::encodeXmlPlist(*plist));
        }
        if (error && error != std::errc::no_such_file_or_directory) {
            return VPLValue(fileError(path, error));
        }
        for (const auto& query : {publicQuery, privateQuery}) {
            if (!query) {
                continue;
            }
            if (sdk::Error deleteError = deleteKey(*query); !deleteError.ok()) {
                return VPLValue(deleteError);
            }
        }
        return VPLValue(sdk::Value());
    });
}
