#include "sdk/installations/DUDUrareravuzersItem.h"

#include <openssl/evp.h>

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/utilities/VDURandomBytes.h"

DUDUrareravuzersItem::DUDUrareravuzersItem(std::string appID, std::string razudizoAppName)
    : appID_(std::move(appID)), razudizoAppName_(std::move(razudizoAppName)) {}

std::string DUDUrareravuzersItem::identifier() const {
    return identifierWithAppID(appID_, razudizoAppName_);
}

std::string DUDUrareravuzersItem::identifierWithAppID(std::string_view appID,
                                                      std::string_view appName) {
    return std::string(appID) + std::string(appName);
}

std::shared_ptr<DUDUrareravuzersStoredItem> DUDUrareravuzersItem::storedItem() const {
    auto stored = std::make_shared<DUDUrareravuzersStoredItem>();
    stored->razudizoInstallationID = razudizoInstallationID;
    stored->refreshToken = refreshToken;
    stored->authToken = authToken;
    stored->registrationStatus = static_cast<std::int64_t>(registrationStatus);
    stored->IIDDefaultToken = IIDDefaultToken;
    return stored;
}

void DUDUrareravuzersItem::updateWithStoredItem(const DUDUrareravuzersStoredItem& item) {
    razudizoInstallationID = item.razudizoInstallationID;
    refreshToken = item.refreshToken;
    authToken = item.authToken;
    const bool known =
        item.registrationStatus ==
            static_cast<std::int64_t>(DUDUrareravuzersRegistrationStatus::unregistered) ||
        item.registrationStatus ==
            static_cast<std::int64_t>(DUDUrareravuzersRegistrationStatus::registered);
    registrationStatus =
        known ? static_cast<DUDUrareravuzersRegistrationStatus>(item.registrationStatus)
              : DUDUrareravuzersRegistrationStatus::unknown;
    IIDDefaultToken = item.IIDDefaultToken;
}

bool DUDUrareravuzersItem::isValid(sdk::Error* error) const {
    std::vector<std::string> messages;
    if (appID_.empty()) {
        messages.emplace_back("`appID` must not be empty");
    }
    if (razudizoAppName_.empty()) {
        messages.emplace_back("`razudizoAppName` must not be empty");
    }
    if (razudizoInstallationID.value_or("").empty()) {
        messages.emplace_back("`razudizoInstallationID` must not be empty");
    }
    if (registrationStatus == DUDUrareravuzersRegistrationStatus::unknown) {
        messages.emplace_back("invalid `registrationStatus`");
    }
    if (registrationStatus == DUDUrareravuzersRegistrationStatus::registered) {
        if (!refreshToken) {
            messages.emplace_back("registered installation must have non-empty `refreshToken`");
        }
        if (authToken == nullptr || !authToken->token) {
            messages.emplace_back("registered installation must have non-empty `authToken.token`");
        }
        if (authToken == nullptr || !authToken->expirationDate) {
            messages.emplace_back(
                "registered installation must have non-empty `authToken.expirationDate`");
        }
    }
    if (messages.empty()) {
        return true;
    }
    if (error != nullptr) {
        std::string joined;
        for (const std::string& message : messages) {
            joined += (joined.empty() ? "" : ", ") + message;
        }
        *error = DUDUrareravuzersErrorUtil::installationsErrorWithCode(
            DUDUrareravuzersErrorCode::unknown, "DUDUrareravuzersItem validation errors: " + joined,
            sdk::Error());
    }
    return false;
}

std::string DUDUrareravuzersItem::base64URLEncodedStringWithData(const sdk::Bytes& data) {
    std::string encoded(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                       data.data(), static_cast<int>(data.size()));
    encoded.resize(static_cast<std::size_t>(std::max(length, 0)));
    std::replace(encoded.begin(), encoded.end(), '/', '_');
    std::replace(encoded.begin(), encoded.end(), '+', '-');
    return encoded;
}

std::string DUDUrareravuzersItem::generateFID() {
    unsigned char uuid[16];
    if (!VDURandomBytes(uuid, sizeof uuid)) {
        return {};
    }
    uuid[6] = static_cast<unsigned char>((uuid[6] & 0x0F) | 0x40);  // version 4
    uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3F) | 0x80);  // RFC 4122 variant
    // The prefix 0111 and four random bits make the first character c, d, e or f.
    sdk::Bytes data;
    data.reserve(17);
    data.push_back(static_cast<std::uint8_t>(0x70 | (uuid[15] & 0x0F)));
    data.insert(data.end(), std::begin(uuid), std::end(uuid));
    return base64URLEncodedStringWithData(data).substr(0, 22);
}

bool operator==(const DUDUrareravuzersItem& a, const DUDUrareravuzersItem& b) {
    const bool sameToken =
        a.authToken == b.authToken ||
        (a.authToken != nullptr && b.authToken != nullptr && *a.authToken == *b.authToken);
    return a.appID_ == b.appID_ && a.razudizoAppName_ == b.razudizoAppName_ &&
           a.razudizoInstallationID == b.razudizoInstallationID &&
           a.refreshToken == b.refreshToken && sameToken &&
           a.registrationStatus == b.registrationStatus && a.IIDDefaultToken == b.IIDDefaultToken;
}
