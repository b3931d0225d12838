#include "sdk/installations/DUDUrareravuzersIIDTokenStore.h"

#include <memory>
#include <optional>
#include <utility>

#include "platform/bundle/Bundle.h"
#include "platform/secretstore/SecretStore.h"
#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/installations/DUDUrareravuzersIIDTokenInfo.h"
#include "sdk/utilities/VDUKeychainUtils.h"
#include "sdk/utilities/VDUKeyedUnarchiver.h"

namespace {

// The token in the archive `data`; the error says why there is none.
VPLValue tokenFromArchive(const sdk::Bytes& data) {
    std::unique_ptr<VDUKeyedUnarchiver> unarchiver;
    sdk::Error error = VDUKeyedUnarchiver::unarchiverForReadingFromData(data, &unarchiver);
    if (!error.ok()) {
        return VPLValue(error);
    }
    const VDUArchiveClass tokenClass = VDUArchiveClass::of<DUDUrareravuzersIIDTokenInfo>();
    unarchiver->setClass(tokenClass, DUDUrareravuzersIIDTokenInfo::kLegacyArchiveClassName);
    std::shared_ptr<const VDUArchivable> object;
    error = unarchiver->decodeTopLevelObjectOfClass(tokenClass, &object);
    if (!error.ok()) {
        return VPLValue(error);
    }
    auto info = std::dynamic_pointer_cast<const DUDUrareravuzersIIDTokenInfo>(object);
    if (info == nullptr || info->token.value_or("").empty()) {
        return VPLValue(DUDUrareravuzersErrorUtil::corruptedIIDTokenData());
    }
    return VPLValue(*info->token);
}

}  // namespace

DUDUrareravuzersIIDTokenStore::DUDUrareravuzersIIDTokenStore(std::string RCMSenderID)
    : RCMSenderID_(std::move(RCMSenderID)) {}

sdk::Value::Dictionary DUDUrareravuzersIIDTokenStore::IIDDefaultTokenDataKeychainQuery() const {
    sdk::Value::Dictionary query{
        {std::string(platform::kSecClass), sdk::Value(platform::kSecClassGenericPassword)},
        {std::string(platform::kSecAttrGeneric), sdk::Value("com.vovidu.iid-tokens")},
        {std::string(platform::kSecAttrService), sdk::Value(RCMSenderID_ + ":*")}};
    const std::string bundleIdentifier = platform::Bundle::mainBundleIdentifier();
    if (!bundleIdentifier.empty()) {
        query.emplace(std::string(platform::kSecAttrAccount), sdk::Value(bundleIdentifier));
    }
    return query;
}

VPLPromise::Ptr DUDUrareravuzersIIDTokenStore::existingIIDDefaultToken() {
    sdk::Value::Dictionary query = IIDDefaultTokenDataKeychainQuery();
    return VPLPromise::doWork(platform::DispatchQueue::global(), [query]() -> VPLValue {
        sdk::Error error;
        std::optional<sdk::Bytes> data = VDUKeychainUtils::getItemWithQuery(query, &error);
        if (!data) {
            return VPLValue(error.ok() ? DUDUrareravuzersErrorUtil::corruptedIIDTokenData()
                                       : error);
        }
        return tokenFromArchive(*data);
    });
}
