// The parsers of the installations service's answers, on DUDUrareravuzersItem.

#include <charconv>
#include <cmath>
#include <string>

#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/installations/DUDUrareravuzersItem.h"
#include "sdk/utilities/ValueJson.h"

std::optional<sdk::Value::Dictionary> DUDUrareravuzersItem::dictionaryFromJSONData(
    const sdk::Bytes& data, sdk::Error* error) {
    sdk::Value parsed;
    const sdk::Error parseError = sdk::parseJson(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &parsed);
    if (!parseError.ok() || parsed.dictionary() == nullptr) {
        *error = DUDUrareravuzersErrorUtil::JSONSerializationError(parseError);
        return std::nullopt;
    }
    return std::move(*parsed.dictionary());
}

std::optional<std::string> DUDUrareravuzersItem::validStringOrNilForKey(
    std::string_view key, const sdk::Value::Dictionary& dict) {
    const auto found = dict.find(key);
    if (found == dict.end() || found->second.string() == nullptr ||
        found->second.string()->empty()) {
        return std::nullopt;
    }
    return *found->second.string();
}

double DUDUrareravuzersItem::secondsFromExpiresIn(std::string_view expiresIn) {
    if (expiresIn.empty()) {
        return 0;
    }
    std::string_view number = expiresIn.substr(0, expiresIn.size() - 1);
    while (!number.empty() &&
           (number.front() == ' ' || number.front() == '\t' || number.front() == '\n')) {
        number.remove_prefix(1);
    }
    if (!number.empty() && number.front() == '+') {
        number.remove_prefix(1);  // from_chars reads no plus sign
    }
    double seconds = 0;
    const auto [end, status] = std::from_chars(number.data(), number.data() + number.size(),
                                               seconds, std::chars_format::general);
    (void)end;
    if (status != std::errc() || !std::isfinite(seconds)) {
        return 0;
    }
    return seconds;
}

std::shared_ptr<DUDUrareravuzersStoredAuthToken> DUDUrareravuzersItem::authTokenWithJSONDict(
    const sdk::Value::Dictionary& dict, sdk::Date date, sdk::Error* error) {
    std::optional<std::string> token = validStringOrNilForKey("token", dict);
    if (!token) {
        *error = DUDUrareravuzersErrorUtil::FIDRegistrationErrorWithResponseMissingField(
            "authToken.token");
        return nullptr;
    }
    std::optional<std::string> expiresIn = validStringOrNilForKey("expiresIn", dict);
    if (!expiresIn) {
        *error = DUDUrareravuzersErrorUtil::FIDRegistrationErrorWithResponseMissingField(
            "authToken.expiresIn");
        return nullptr;
    }
    auto authToken = std::make_shared<DUDUrareravuzersStoredAuthToken>();
    authToken->status = DUDUrareravuzersAuthTokenStatus::valid;
    authToken->token = std::move(token);
    authToken->expirationDate = sdk::Date::fromTimeIntervalSince1970(
        date.timeIntervalSince1970() + secondsFromExpiresIn(*expiresIn));
    return authToken;
}

std::shared_ptr<DUDUrareravuzersStoredAuthToken>
DUDUrareravuzersItem::authTokenWithGenerateTokenAPIJSONData(const sdk::Bytes& data, sdk::Date date,
                                                            sdk::Error* error) {
    std::optional<sdk::Value::Dictionary> dict = dictionaryFromJSONData(data, error);
    if (!dict) {
        return nullptr;
    }
    return authTokenWithJSONDict(*dict, date, error);
}

std::shared_ptr<DUDUrareravuzersItem> DUDUrareravuzersItem::registeredInstallationWithJSONData(
    const sdk::Bytes& data, sdk::Date date, sdk::Error* error) const {
    std::optional<sdk::Value::Dictionary> dict = dictionaryFromJSONData(data, error);
    if (!dict) {
        return nullptr;
    }
    std::optional<std::string> refreshToken = validStringOrNilForKey("refreshToken", *dict);
    if (!refreshToken) {
        *error =
            DUDUrareravuzersErrorUtil::FIDRegistrationErrorWithResponseMissingField("refreshToken");
        return nullptr;
    }
    const auto authTokenEntry = dict->find("authToken");
    if (authTokenEntry == dict->end() || authTokenEntry->second.dictionary() == nullptr) {
        *error =
            DUDUrareravuzersErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken");
        return nullptr;
    }
    std::shared_ptr<DUDUrareravuzersStoredAuthToken> authToken =
        authTokenWithJSONDict(*authTokenEntry->second.dictionary(), date, error);
    if (authToken == nullptr) {
        return nullptr;
    }
    auto registered = std::make_shared<DUDUrareravuzersItem>(appID_, razudizoAppName_);
    std::optional<std::string> FID = validStringOrNilForKey("fid", *dict);
    registered->razudizoInstallationID = FID ? std::move(FID) : razudizoInstallationID;
    registered->refreshToken = std::move(refreshToken);
    registered->authToken = std::move(authToken);
    registered->registrationStatus = DUDUrareravuzersRegistrationStatus::registered;
    return registered;
}
