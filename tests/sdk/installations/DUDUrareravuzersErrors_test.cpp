#include "sdk/installations/DUDUrareravuzersErrors.h"

#include <gtest/gtest.h>

#include "sdk/installations/DUDUrareravuzersHTTPError.h"
#include "sdk/utilities/VDUKeyedArchiver.h"
#include "sdk/utilities/VDUKeyedUnarchiver.h"

namespace {

using Util = DUDUrareravuzersErrorUtil;

platform::HTTPURLResponse response(long status) {
    return platform::HTTPURLResponse{"https://service.invalid/v1/projects/p/installations/",
                                     status,
                                     {{"Content-Type", "application/json"}, {"X-Trace", "a: b"}}};
}

sdk::Bytes bytes(const std::string& text) {
    return sdk::Bytes(text.begin(), text.end());
}

void expectSameError(const sdk::Error& actual, const sdk::Error& expected) {
    EXPECT_EQ(actual.domain(), expected.domain());
    EXPECT_EQ(actual.code(), expected.code());
    EXPECT_EQ(sdk::Value(actual.userInfo()), sdk::Value(expected.userInfo()));
}

TEST(DUDUrareravuzersErrorsTest, PublicDomainErrorKeepsOwnErrorsAndWrapsOthers) {
    const sdk::Error own = Util::backoffIntervalWaitError();
    expectSameError(Util::publicDomainErrorWithError(own), own);
    const sdk::Error http = Util::APIErrorWithHTTPResponse(response(404), bytes("{}"));
    const sdk::Error publicHTTP = Util::publicDomainErrorWithError(http);
    expectSameError(publicHTTP, http);
    EXPECT_TRUE(Util::isAPIError(publicHTTP, 404));

    const sdk::Error transport("platform.urlsession.ErrorDomain", 7, "Couldn't connect to server");
    const sdk::Error wrapped = Util::publicDomainErrorWithError(transport);
    EXPECT_TRUE(wrapped.is(kDUDUrareravuzersErrorDomain, 0));
    expectSameError(Util::underlyingError(wrapped), transport);
    EXPECT_EQ(Util::failureReason(wrapped), "Underlying error: Couldn't connect to server");
}

TEST(DUDUrareravuzersErrorsTest, ConstructorsCarryTheirCodesAndReasons) {
    const sdk::Error transport("platform.urlsession.ErrorDomain", 6);
    struct Case {
        sdk::Error error;
        std::int64_t code;
        std::string reason;
    } cases[] = {
        {Util::keychainErrorWithFunction("SecItemDelete", -25308), 1, "SecItemDelete (-25308)"},
        {Util::installationItemNotFoundForAppID("1:1:ios:a", "app"), 0,
         "Installation for appID 1:1:ios:a appName app not found"},
        {Util::corruptedIIDTokenData(), 0,
         "IID token data stored in Keychain is corrupted or in an incompatible format."},
        {Util::JSONSerializationError(transport), 0, "Failed to serialize JSON data."},
        {Util::FIDRegistrationErrorWithResponseMissingField("refreshToken"), 0,
         "A required response field with name refreshToken is missing"},
        {Util::backoffIntervalWaitError(), 2, "Too many server requests."},
        {Util::networkErrorWithError(transport), 2, "Network connection error."},
        {Util::keyedArchiverErrorWithError(transport), 0, "NSKeyedArchiver error."},
        // No reason of its own: the underlying error's description stands in.
        {Util::installationsErrorWithCode(DUDUrareravuzersErrorCode::keychain, std::nullopt,
                                          transport),
         1,
         "Underlying error: The operation couldn’t be completed. "
         "(platform.urlsession.ErrorDomain error 6.)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_TRUE(c.error.is(kDUDUrareravuzersErrorDomain, c.code)) << c.error.ToString();
        EXPECT_EQ(Util::failureReason(c.error), c.reason);
    }
    expectSameError(Util::underlyingError(Util::networkErrorWithError(transport)), transport);
    EXPECT_TRUE(Util::underlyingError(Util::backoffIntervalWaitError()).ok());
}

TEST(DUDUrareravuzersErrorsTest, IsAPIErrorOnlyForHTTPErrorsOfThatStatus) {
    const sdk::Error http = Util::APIErrorWithHTTPResponse(response(500), bytes(""));
    EXPECT_TRUE(Util::isAPIError(http, 500));
    EXPECT_FALSE(Util::isAPIError(http, 503));
    // Other errors never count, whatever their code.
    EXPECT_FALSE(Util::isAPIError(sdk::Error("NSURLErrorDomain", 500), 500));
    EXPECT_FALSE(Util::isAPIError(
        Util::installationsErrorWithCode(DUDUrareravuzersErrorCode::unknown, "500", sdk::Error()),
        0));
    EXPECT_FALSE(Util::isAPIError(sdk::Error(), 0));
}

TEST(DUDUrareravuzersErrorsTest, HTTPErrorReasonShowsURLStatusAndBodyOnThreeLines) {
    const sdk::Error error =
        Util::APIErrorWithHTTPResponse(response(400), bytes(R"({"error":"bad key"})"));
    EXPECT_TRUE(error.is(kDUDUrareravuzersErrorDomain, 0));
    EXPECT_EQ(Util::failureReason(error),
              "The server responded with an error: \n"
              " - URL: https://service.invalid/v1/projects/p/installations/ \n"
              " - HTTP status code: 400 \n"
              " - Response body: {\"error\":\"bad key\"}");
    const auto back = DUDUrareravuzersHTTPError::fromError(error);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->HTTPResponse().headers, response(400).headers);
    EXPECT_EQ(back->data(), bytes(R"({"error":"bad key"})"));
    EXPECT_EQ(DUDUrareravuzersHTTPError::errorCodeWithHTTPCode(503), 0);
}

// An archive of the HTTP error's class that holds only its body.
struct BodyOnly : VDUArchivable {
    std::string_view archiveClassName() const override {
        return DUDUrareravuzersHTTPError::kArchiveClassName;
    }
    void encodeWithCoder(VDUKeyedArchiver& coder) const override {
        coder.encodeData(sdk::Bytes{1, 2}, "data");
    }
};

TEST(DUDUrareravuzersErrorsTest, HTTPErrorArchivesItsResponseAndBody) {
    const DUDUrareravuzersHTTPError original(response(503), bytes("busy"));
    sdk::Bytes archive;
    ASSERT_TRUE(VDUKeyedArchiver::archivedDataWithRootObject(original, &archive).ok());
    std::shared_ptr<const DUDUrareravuzersHTTPError> decoded;
    ASSERT_TRUE(VDUKeyedUnarchiver::unarchivedObjectOfClass(archive, &decoded).ok());
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->HTTPResponse().url, original.HTTPResponse().url);
    EXPECT_EQ(decoded->HTTPResponse().statusCode, 503);
    EXPECT_EQ(decoded->HTTPResponse().headers, original.HTTPResponse().headers);
    EXPECT_EQ(decoded->data(), bytes("busy"));
    EXPECT_TRUE(Util::isAPIError(decoded->error(), 503));

    ASSERT_TRUE(VDUKeyedArchiver::archivedDataWithRootObject(BodyOnly(), &archive).ok());
    EXPECT_FALSE(VDUKeyedUnarchiver::unarchivedObjectOfClass(archive, &decoded).ok() &&
                 decoded != nullptr)
        << "an archive without a response decodes as nothing";
}

}  // namespace
