#pragma once

#include <memory>
#include <optional>
#include <string>

#include "sdk/utilities/VDUKeyedArchiver.h"
#include "sdk/utilities/VDUKeyedUnarchiver.h"

namespace sdktest {

// A small kept object: an integer, a string and a date.
struct TestToken : VDUArchivable {
    static constexpr std::string_view kArchiveClassName = "TestToken";

    std::int64_t status = 0;
    std::optional<std::string> token;
    std::optional<sdk::Date> expirationDate;

    std::string_view archiveClassName() const override { return kArchiveClassName; }
    void encodeWithCoder(VDUKeyedArchiver& coder) const override {
        coder.encodeInteger(status, "status");
        coder.encodeString(token, "token");
        coder.encodeDate(expirationDate, "expirationDate");
    }
    static std::shared_ptr<TestToken> initWithCoder(VDUKeyedUnarchiver& coder) {
        auto token = std::make_shared<TestToken>();
        token->status = coder.decodeInteger("status");
        token->token = coder.decodeString("token");
        token->expirationDate = coder.decodeDate("expirationDate");
        return token;
    }
};

// A kept object holding data and another kept object.
struct TestRecord : VDUArchivable {
    static constexpr std::string_view kArchiveClassName = "TestRecord";

    std::optional<std::string> identifier;
    std::optional<sdk::Bytes> blob;
    std::shared_ptr<const TestToken> token;

    std::string_view archiveClassName() const override { return kArchiveClassName; }
    void encodeWithCoder(VDUKeyedArchiver& coder) const override {
        coder.encodeString(identifier, "identifier");
        coder.encodeData(blob, "blob");
        coder.encodeObject(token.get(), "token");
    }
    static std::shared_ptr<TestRecord> initWithCoder(VDUKeyedUnarchiver& coder) {
        auto record = std::make_shared<TestRecord>();
        record->identifier = coder.decodeString("identifier");
        record->blob = coder.decodeData("blob");
        record->token = coder.decodeObjectOfClass<TestToken>("token");
        return record;
    }
};

inline std::shared_ptr<const TestRecord> makeRecord(std::string identifier) {
    auto token = std::make_shared<TestToken>();
    token->status = 1;
    token->token = "t-" + identifier;
    token->expirationDate = sdk::Date::fromTimeIntervalSince1970(1.7e9 + 0.5);
    auto record = std::make_shared<TestRecord>();
    record->identifier = std::move(identifier);
    record->blob = sdk::Bytes{0, 1, 2};
    record->token = token;
    return record;
}

}  // namespace sdktest
