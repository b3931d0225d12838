#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/urlsession/URLSessionTypes.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUArchivable.h"
#include "sdk/utilities/Value.h"

// The error of an installations-service answer with a status outside 200-299: the response head
// and the body, carried by an error of the domain "com.razudizo.installations", code 0, whose
// failure reason shows URL, status and body on three lines.
//
// An error value cannot be subclassed, so `error()` keeps the response and body in the error's
// user info (keys "HTTPResponse" and "data") besides the failure reason, and `fromError` reads
// them back; only errors made here are recognised. Archived, the response is an object of
// class "NSHTTPURLResponse" ("URL", "statusCode", "allHeaderFields" as "Name: value" lines) under
// "HTTPResponse", the body data under "data".
//
// A plain value: copies are independent, and it may be read from any thread.
class DUDUrareravuzersHTTPError final : public VDUArchivable {
  public:
    static constexpr std::string_view kArchiveClassName = "DUDUrareravuzersHTTPError";

    DUDUrareravuzersHTTPError(platform::HTTPURLResponse response, sdk::Bytes data);

    // The error code of any status: 0 (unknown).
    static std::int64_t errorCodeWithHTTPCode(std::int64_t HTTPCode);

    // The error value carrying this response and body.
    sdk::Error error() const;

    // The response and body of an error made by `error()`; no value for any other error.
    static std::optional<DUDUrareravuzersHTTPError> fromError(const sdk::Error& error);

    const platform::HTTPURLResponse& HTTPResponse() const { return HTTPResponse_; }
    const sdk::Bytes& data() const { return data_; }

    std::string_view archiveClassName() const override { return kArchiveClassName; }
    void encodeWithCoder(VDUKeyedArchiver& coder) const override;
    // Null (and the unarchiver failed) when the archive holds no response.
    static std::shared_ptr<DUDUrareravuzersHTTPError> initWithCoder(VDUKeyedUnarchiver& coder);

  private:
    platform::HTTPURLResponse HTTPResponse_;
    sdk::Bytes data_;
};
