#include "sdk/installations/DUDUrareravuzersStoredAuthToken.h"

#include "sdk/installations/DUDUrareravuzersLogger.h"
#include "sdk/utilities/VDUKeyedArchiver.h"
#include "sdk/utilities/VDUKeyedUnarchiver.h"

void DUDUrareravuzersStoredAuthToken::encodeWithCoder(VDUKeyedArchiver& coder) const {
    coder.encodeInteger(static_cast<std::int64_t>(status), "status");
    coder.encodeString(token, "token");
    coder.encodeDate(expirationDate, "expirationDate");
    coder.encodeInteger(kStorageVersion, "storageVersion");
}

std::shared_ptr<DUDUrareravuzersStoredAuthToken> DUDUrareravuzersStoredAuthToken::initWithCoder(
    VDUKeyedUnarchiver& coder) {
    auto authToken = std::make_shared<DUDUrareravuzersStoredAuthToken>();
    authToken->status = static_cast<DUDUrareravuzersAuthTokenStatus>(coder.decodeInteger("status"));
    authToken->token = coder.decodeString("token");
    authToken->expirationDate = coder.decodeDate("expirationDate");
    authToken->storageVersion = coder.decodeInteger("storageVersion");
    if (authToken->storageVersion > kStorageVersion) {
        RZDLoggerLogWarning(kDUDUrareravuzersLoggerService, "I-DUD004000",
                            "DUDUrareravuzersStoredAuthToken was encoded by a newer coder version "
                            "%ld. Current coder version is %ld. Some auth token data may be lost.",
                            authToken->storageVersion, kStorageVersion);
    }
    return authToken;
}
