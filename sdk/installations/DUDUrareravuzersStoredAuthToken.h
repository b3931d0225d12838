#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Date.h"
#include "sdk/utilities/VDUArchivable.h"

// The state of an auth token: `valid` on every token the service's answers give.
enum class DUDUrareravuzersAuthTokenStatus : std::int64_t {
    unknown = 0,
    valid = 1,
};

// An installation's auth token as it is kept: status, token text and expiration date, archived
// under "status", "token", "expirationDate" and "storageVersion" (1). Immutable once shared
// (items hold it as a pointer to const), so it may be read from any thread.
class DUDUrareravuzersStoredAuthToken final : public VDUArchivable {
  public:
    static constexpr std::string_view kArchiveClassName = "DUDUrareravuzersStoredAuthToken";
    // The version this build writes; a newer stored version is still read, with a warning.
    static constexpr std::int64_t kStorageVersion = 1;

    DUDUrareravuzersAuthTokenStatus status = DUDUrareravuzersAuthTokenStatus::unknown;
    std::optional<std::string> token;
    std::optional<sdk::Date> expirationDate;
    std::int64_t storageVersion = kStorageVersion;

    std::string_view archiveClassName() const override { return kArchiveClassName; }
    void encodeWithCoder(VDUKeyedArchiver& coder) const override;
    // A missing key reads as nil or 0; a stored version above kStorageVersion logs "I-DUD004000".
    static std::shared_ptr<DUDUrareravuzersStoredAuthToken> initWithCoder(
        VDUKeyedUnarchiver& coder);

    // Equal in status, token and expiration date.
    friend bool operator==(const DUDUrareravuzersStoredAuthToken& a,
                           const DUDUrareravuzersStoredAuthToken& b) {
        return a.status == b.status && a.token == b.token && a.expirationDate == b.expirationDate;
    }
};
