#include "sdk/installations/DUDUrareravuzersStoredItem.h"

#include "sdk/installations/DUDUrareravuzersLogger.h"
#include "sdk/utilities/VDUKeyedArchiver.h"
#include "sdk/utilities/VDUKeyedUnarchiver.h"

void DUDUrareravuzersStoredItem::encodeWithCoder(VDUKeyedArchiver& coder) const {
    coder.encodeString(razudizoInstallationID, "razudizoInstallationID");
    coder.encodeString(refreshToken, "refreshToken");
    coder.encodeObject(authToken.get(), "authToken");
    coder.encodeInteger(registrationStatus, "registrationStatus");
    coder.encodeString(IIDDefaultToken, "IIDDefaultToken");
    coder.encodeInteger(kStorageVersion, "storageVersion");
}

std::shared_ptr<DUDUrareravuzersStoredItem> DUDUrareravuzersStoredItem::initWithCoder(
    VDUKeyedUnarchiver& coder) {
    auto item = std::make_shared<DUDUrareravuzersStoredItem>();
    item->razudizoInstallationID = coder.decodeString("razudizoInstallationID");
    item->refreshToken = coder.decodeString("refreshToken");
    item->authToken = coder.decodeObjectOfClass<DUDUrareravuzersStoredAuthToken>("authToken");
    item->registrationStatus = coder.decodeInteger("registrationStatus");
    item->IIDDefaultToken = coder.decodeString("IIDDefaultToken");
    item->storageVersion = coder.decodeInteger("storageVersion");
    if (item->storageVersion > kStorageVersion) {
        RZDLoggerLogWarning(kDUDUrareravuzersLoggerService, "I-DUD003000",
                            "DUDUrareravuzersStoredItem was encoded by a newer coder version %ld. "
                            "Current coder version is %ld. Some installation data may be lost.",
                            item->storageVersion, kStorageVersion);
    }
    return item;
}
