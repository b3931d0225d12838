#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/installations/DUDUrareravuzersStoredAuthToken.h"
#include "sdk/utilities/VDUArchivable.h"

// The archived form of an installation record: the five persisted fields of the item and
// "storageVersion" (1). App ID and app name are not stored: the record's key implies them.
// Immutable once handed to the keychain storage, which caches and shares it.
class DUDUrareravuzersStoredItem final : public VDUArchivable {
  public:
    static constexpr std::string_view kArchiveClassName = "DUDUrareravuzersStoredItem";
    static constexpr std::int64_t kStorageVersion = 1;

    std::optional<std::string> razudizoInstallationID;
    std::optional<std::string> refreshToken;
    std::shared_ptr<const DUDUrareravuzersStoredAuthToken> authToken;
    std::int64_t registrationStatus = 0;
    std::optional<std::string> IIDDefaultToken;
    std::int64_t storageVersion = kStorageVersion;

    std::string_view archiveClassName() const override { return kArchiveClassName; }
    void encodeWithCoder(VDUKeyedArchiver& coder) const override;
    // A missing key reads as nil or 0; a stored version above kStorageVersion logs "I-DUD003000".
    static std::shared_ptr<DUDUrareravuzersStoredItem> initWithCoder(VDUKeyedUnarchiver& coder);
};
