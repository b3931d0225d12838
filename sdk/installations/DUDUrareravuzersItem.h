#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/installations/DUDUrareravuzersStoredAuthToken.h"
#include "sdk/installations/DUDUrareravuzersStoredItem.h"
#include "sdk/utilities/Date.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

// Where an installation stands with the service.
enum class DUDUrareravuzersRegistrationStatus : std::int64_t {
    unknown = 0,       // invalid
    unregistered = 1,  // created locally, not yet known to the service
    registered = 2,    // accepted by the service, which issued its tokens
};

// One app's installation record in memory: app ID and app name (fixed at creation), the
// installation ID (FID), refresh token, auth token, registration status and a legacy default
// token carried over from the older instance-ID identity.
//
// A plain value: a copy is deep (the auth token is immutable and may be shared). Callers hand
// items between queues by copying or by pointer to const; one item is not changed from two
// threads.
class DUDUrareravuzersItem {
  public:
    // initWithAppID:razudizoAppName:; the other fields start nil, status `unknown`.
    DUDUrareravuzersItem(std::string appID, std::string razudizoAppName);

    const std::string& appID() const { return appID_; }
    const std::string& razudizoAppName() const { return razudizoAppName_; }

    std::optional<std::string> razudizoInstallationID;
    std::optional<std::string> refreshToken;
    std::shared_ptr<const DUDUrareravuzersStoredAuthToken> authToken;
    DUDUrareravuzersRegistrationStatus registrationStatus =
        DUDUrareravuzersRegistrationStatus::unknown;
    std::optional<std::string> IIDDefaultToken;

    // The record's key in the keychain and user defaults: app ID immediately followed by the
    // app name.
    std::string identifier() const;
    static std::string identifierWithAppID(std::string_view appID, std::string_view appName);

    // The five persisted fields as their archived form.
    std::shared_ptr<DUDUrareravuzersStoredItem> storedItem() const;
    // Copies the five persisted fields in. A stored status other than unregistered or
    // registered reads as unknown (so validation refuses the record).
    void updateWithStoredItem(const DUDUrareravuzersStoredItem& item);

    // True when the record is usable. Otherwise false and, when `error` is given, an error of
    // code 0 whose reason lists every failed check in a fixed order.
    bool isValid(sdk::Error* error) const;

    // Standard base64 of `data` with "/" turned into "_" and "+" into "-"; padding is kept.
    static std::string base64URLEncodedStringWithData(const sdk::Bytes& data);

    // A new installation ID: 22 characters of the base64url alphabet beginning with c, d, e or
    // f, made from a random (version 4) UUID. Empty only when the system has no random bytes to
    // give.
    static std::string generateFID();

    // ---- Parsing the service's answers (the reference date is the moment of parsing) ----

    // The registered item from a register answer to this item: app ID and name from this item,
    // the answer's "fid" when non-empty (else this item's FID), its refresh token and auth
    // token, status registered, no legacy token. Null with `*error` set when the answer lacks
    // a field. REQUIRES: error is not null.
    std::shared_ptr<DUDUrareravuzersItem> registeredInstallationWithJSONData(
        const sdk::Bytes& data, sdk::Date date, sdk::Error* error) const;

    // The auth token of a generate-token answer. Null with `*error` set on failure.
    // REQUIRES: error is not null.
    static std::shared_ptr<DUDUrareravuzersStoredAuthToken> authTokenWithGenerateTokenAPIJSONData(
        const sdk::Bytes& data, sdk::Date date, sdk::Error* error);

    // The auth token in `dict` ("token", "expiresIn" such as "3600s"), status valid, expiring
    // `date` plus the seconds. Null with `*error` set when a field is missing.
    // REQUIRES: error is not null.
    static std::shared_ptr<DUDUrareravuzersStoredAuthToken> authTokenWithJSONDict(
        const sdk::Value::Dictionary& dict, sdk::Date date, sdk::Error* error);

    // The JSON object in `data`; no value with the JSON error when it is not an object.
    // REQUIRES: error is not null.
    static std::optional<sdk::Value::Dictionary> dictionaryFromJSONData(const sdk::Bytes& data,
                                                                        sdk::Error* error);

    // The string under `key` when it is a non-empty string; else no value.
    static std::optional<std::string> validStringOrNilForKey(std::string_view key,
                                                             const sdk::Value::Dictionary& dict);

    // The seconds in an "expiresIn" text: the last character (the unit) dropped, the rest read
    // as a decimal number from its start; 0 when it does not begin with a finite number.
    static double secondsFromExpiresIn(std::string_view expiresIn);

    // Equal in all seven fields (auth tokens by content).
    friend bool operator==(const DUDUrareravuzersItem& a, const DUDUrareravuzersItem& b);

  private:
    std::string appID_;
    std::string razudizoAppName_;
};
