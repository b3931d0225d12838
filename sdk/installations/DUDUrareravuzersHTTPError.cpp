#include "sdk/installations/DUDUrareravuzersHTTPError.h"

#include <string>
#include <utility>

#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDUKeyedArchiver.h"
#include "sdk/utilities/VDUKeyedUnarchiver.h"

namespace {

using Dictionary = sdk::Value::Dictionary;

constexpr std::string_view kResponseKey = "HTTPResponse";
constexpr std::string_view kDataKey = "data";
constexpr std::string_view kURLKey = "URL";
constexpr std::string_view kStatusCodeKey = "statusCode";
constexpr std::string_view kHeaderFieldsKey = "allHeaderFields";

// The response head as an archivable object.
struct ArchivedHTTPResponse final : VDUArchivable {
    static constexpr std::string_view kArchiveClassName = "NSHTTPURLResponse";

    platform::HTTPURLResponse response;

    std::string_view archiveClassName() const override { return kArchiveClassName; }
    void encodeWithCoder(VDUKeyedArchiver& coder) const override {
        std::string fields;
        for (const auto& [name, value] : response.headers) {
            fields += name + ": " + value + "\r\n";
        }
        coder.encodeString(response.url, kURLKey);
        coder.encodeInteger(response.statusCode, kStatusCodeKey);
        coder.encodeString(fields, kHeaderFieldsKey);
    }
    static std::shared_ptr<ArchivedHTTPResponse> initWithCoder(VDUKeyedUnarchiver& coder) {
        auto archived = std::make_shared<ArchivedHTTPResponse>();
        archived->response.url = coder.decodeString(kURLKey).value_or("");
        archived->response.statusCode = static_cast<long>(coder.decodeInteger(kStatusCodeKey));
        const std::string fields = coder.decodeString(kHeaderFieldsKey).value_or("");
        std::size_t start = 0;
        while (start < fields.size()) {
            std::size_t end = fields.find("\r\n", start);
            if (end == std::string::npos) {
                end = fields.size();
            }
            const std::string line = fields.substr(start, end - start);
            const std::size_t colon = line.find(": ");
            if (colon != std::string::npos) {
                archived->response.headers.emplace_back(line.substr(0, colon),
                                                        line.substr(colon + 2));
            }
            start = end + 2;
        }
        return archived;
    }
};

sdk::Value headersValue(const platform::HTTPHeaders& headers) {
    sdk::Value::Array fields;
    for (const auto& [name, value] : headers) {
        fields.emplace_back(sdk::Value::Array{sdk::Value(name), sdk::Value(value)});
    }
    return sdk::Value(std::move(fields));
}

std::optional<platform::HTTPHeaders> headersFromValue(const sdk::Value* value) {
    if (value == nullptr || value->array() == nullptr) {
        return std::nullopt;
    }
    platform::HTTPHeaders headers;
    for (const sdk::Value& field : *value->array()) {
        const sdk::Value::Array* pair = field.array();
        if (pair == nullptr || pair->size() != 2 || (*pair)[0].string() == nullptr ||
            (*pair)[1].string() == nullptr) {
            return std::nullopt;
        }
        headers.emplace_back(*(*pair)[0].string(), *(*pair)[1].string());
    }
    return headers;
}

}  // namespace

DUDUrareravuzersHTTPError::DUDUrareravuzersHTTPError(platform::HTTPURLResponse response,
                                                     sdk::Bytes data)
    : HTTPResponse_(std::move(response)), data_(std::move(data)) {}

std::int64_t DUDUrareravuzersHTTPError::errorCodeWithHTTPCode(std::int64_t) {
    return static_cast<std::int64_t>(DUDUrareravuzersErrorCode::unknown);
}

sdk::Error DUDUrareravuzersHTTPError::error() const {
    const std::string body(data_.begin(), data_.end());
    std::string reason = sdk::formatString(
        "The server responded with an error: \n - URL: %@ \n - HTTP status code: %ld \n - "
        "Response body: %@",
        {{HTTPResponse_.url, static_cast<std::int64_t>(HTTPResponse_.statusCode), body}});
    Dictionary response{{std::string(kURLKey), sdk::Value(HTTPResponse_.url)},
                        {std::string(kStatusCodeKey), sdk::Value(HTTPResponse_.statusCode)},
                        {std::string(kHeaderFieldsKey), headersValue(HTTPResponse_.headers)}};
    Dictionary userInfo{{std::string(kDUDUFailureReasonErrorKey), sdk::Value(std::move(reason))},
                        {std::string(kResponseKey), sdk::Value(std::move(response))},
                        {std::string(kDataKey), sdk::Value(data_)}};
    return sdk::Error(std::string(kDUDUrareravuzersErrorDomain),
                      errorCodeWithHTTPCode(HTTPResponse_.statusCode), {}, std::move(userInfo));
}

std::optional<DUDUrareravuzersHTTPError> DUDUrareravuzersHTTPError::fromError(
    const sdk::Error& error) {
    if (error.ok() || error.domain() != kDUDUrareravuzersErrorDomain) {
        return std::nullopt;
    }
    const sdk::Value* response = error.userInfoValue(kResponseKey);
    const sdk::Value* data = error.userInfoValue(kDataKey);
    if (response == nullptr || data == nullptr || data->bytes() == nullptr) {
        return std::nullopt;
    }
    const sdk::Value* url = response->find(kURLKey);
    const sdk::Value* status = response->find(kStatusCodeKey);
    std::optional<platform::HTTPHeaders> headers =
        headersFromValue(response->find(kHeaderFieldsKey));
    if (url == nullptr || url->string() == nullptr || status == nullptr || !status->isInt() ||
        !headers) {
        return std::nullopt;
    }
    platform::HTTPURLResponse head{*url->string(), static_cast<long>(*status->intValue()),
                                   std::move(*headers)};
    return DUDUrareravuzersHTTPError(std::move(head), *data->bytes());
}

void DUDUrareravuzersHTTPError::encodeWithCoder(VDUKeyedArchiver& coder) const {
    ArchivedHTTPResponse archived;
    archived.response = HTTPResponse_;
    coder.encodeObject(&archived, kResponseKey);
    coder.encodeData(data_, kDataKey);
}

std::shared_ptr<DUDUrareravuzersHTTPError> DUDUrareravuzersHTTPError::initWithCoder(
    VDUKeyedUnarchiver& coder) {
    std::shared_ptr<const ArchivedHTTPResponse> archived =
        coder.decodeObjectOfClass<ArchivedHTTPResponse>(kResponseKey);
    std::optional<sdk::Bytes> data = coder.decodeData(kDataKey);
    if (archived == nullptr) {
        return nullptr;
    }
    return std::make_shared<DUDUrareravuzersHTTPError>(archived->response,
                                                       data.value_or(sdk::Bytes()));
}
