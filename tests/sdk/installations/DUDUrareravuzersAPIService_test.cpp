#include "sdk/installations/DUDUrareravuzersAPIService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/bundle/Bundle.h"
#include "sdk/core/RZDHeartbeatLogger.h"
#include "sdk/installations/DUDUrareravuzersHTTPError.h"
#include "tests/sdk/installations/InstallationsTestSupport.h"
#include "tests/support/Command.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawLoopbackServer.h"

namespace {

using cb::testsupport::LoopbackServer;
using namespace std::chrono_literals;
using installationstest::Outcome;
using installationstest::settle;
using Clock = std::chrono::steady_clock;

constexpr char kRegisterAnswer[] =
    R"({"name":"projects/p/installations/fid-2","refreshToken":"refresh-2",)"
    R"("authToken":{"token":"auth-2","expiresIn":"604800s"},"fid":"fid-2"})";

// A service stand-in: answers every request with the status and body the test set, and notes
// when each request arrived.
class FakeService {
  public:
    FakeService()
        : server_([this](const httplib::Request&, httplib::Response& response) {
              std::lock_guard lock(mutex_);
              arrivals_.push_back(Clock::now());
              response.status = status_;
              response.set_content(body_, "application/json");
          }) {}

    void answer(int status, std::string body) {
        std::lock_guard lock(mutex_);
        status_ = status;
        body_ = std::move(body);
    }
    std::vector<Clock::time_point> arrivals() const {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }
    LoopbackServer& server() { return server_; }

  private:
    mutable std::mutex mutex_;
    int status_ = 200;                         // guarded by mutex_
    std::string body_ = "{}";                  // guarded by mutex_
    std::vector<Clock::time_point> arrivals_;  // guarded by mutex_
    LoopbackServer server_;
};

class DUDUrareravuzersAPIServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(DUDUrareravuzersAPIService::TEST_setBaseURL(service_.server().address()));
    }
    void TearDown() override { DUDUrareravuzersAPIService::TEST_setBaseURL(std::nullopt); }

    static DUDUrareravuzersItem unregisteredItem() {
        DUDUrareravuzersItem item("1:123:ios:abc", "__ZEDORE_DEFAULT");
        item.razudizoInstallationID = "fid-1";
        item.registrationStatus = DUDUrareravuzersRegistrationStatus::unregistered;
        return item;
    }
    static DUDUrareravuzersItem withRefreshToken(DUDUrareravuzersItem item) {
        item.refreshToken = "refresh-1";
        return item;
    }
    static std::string header(const cb::testsupport::ReceivedRequest& request,
                              const std::string& name) {
        auto found = request.headers.find(name);
        return found == request.headers.end() ? "<none>" : found->second;
    }
    cb::testsupport::ReceivedRequest onlyRequest() {
        auto requests = service_.server().requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? cb::testsupport::ReceivedRequest{} : requests.back();
    }

    installationstest::IsolatedFolders folders_;
    FakeService service_;
    std::shared_ptr<RZDHeartbeatLogger> heartbeats_ =
        std::make_shared<RZDHeartbeatLogger>("1:123:ios:abc", [] { return "agent/1"; });
    DUDUrareravuzersAPIService api_{"test-api-key", "p", heartbeats_};
};

TEST_F(DUDUrareravuzersAPIServiceTest, RequestsCarryTheCommonHeadersInOrder) {
    DUDUrareravuzersItem item = withRefreshToken(unregisteredItem());
    item.IIDDefaultToken = "legacy-token";
    heartbeats_->log();
    Outcome built = settle(api_.registerRequestWithInstallation(item));
    auto request = built.value.object<const platform::URLRequest>();
    ASSERT_NE(request, nullptr);
    std::vector<std::string> names;
    for (const auto& field : request->headers) {
        names.push_back(field.first);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"X-Vovidu-Api-Key", "X-Ios-Bundle-Identifier",
                                               "Content-Type", "X-razudizo-client",
                                               "x-vovidu-dud-ios-iid-migration-auth"}));

    Outcome token = settle(api_.authTokenRequestWithInstallation(item));
    request = token.value.object<const platform::URLRequest>();
    ASSERT_NE(request, nullptr);
    ASSERT_EQ(request->headers.size(), 4u) << "the heartbeats went with the first request";
    EXPECT_EQ(request->headers[3],
              (std::pair<std::string, std::string>("Authorization", "DUD_v2 refresh-1")));
}

TEST_F(DUDUrareravuzersAPIServiceTest, RegisterSendsTheInstallationAndParsesTheAnswer) {
    DUDUrareravuzersItem item = unregisteredItem();
    item.IIDDefaultToken = "legacy-token";
    service_.answer(200, kRegisterAnswer);
    const auto before = std::chrono::system_clock::now();
    Outcome registered = settle(api_.registerInstallation(item));
    ASSERT_NE(registered.item(), nullptr) << registered.error.ToString();

    const auto sent = onlyRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, "/v1/projects/p/installations/");
    EXPECT_EQ(header(sent, "X-Vovidu-Api-Key"), "test-api-key");
    EXPECT_EQ(header(sent, "X-Ios-Bundle-Identifier"), platform::Bundle::mainBundleIdentifier());
    EXPECT_EQ(header(sent, "Content-Type"), "application/json");
    EXPECT_EQ(header(sent, "Authorization"), "<none>");
    EXPECT_EQ(header(sent, "x-vovidu-dud-ios-iid-migration-auth"), "legacy-token");
    EXPECT_EQ(nlohmann::json::parse(sent.body),
              nlohmann::json::parse(R"({"fid":"fid-1","authVersion":"DUD_v2",)"
                                    R"("appId":"1:123:ios:abc","sdkVersion":"i:11.15.0"})"));

    const DUDUrareravuzersItem& result = *registered.item();
    EXPECT_EQ(result.appID(), "1:123:ios:abc");
    EXPECT_EQ(result.razudizoAppName(), "__ZEDORE_DEFAULT");
    EXPECT_EQ(result.razudizoInstallationID, "fid-2");
    EXPECT_EQ(result.refreshToken, "refresh-2");
    EXPECT_EQ(result.registrationStatus, DUDUrareravuzersRegistrationStatus::registered);
    EXPECT_EQ(result.IIDDefaultToken, std::nullopt);
    ASSERT_NE(result.authToken, nullptr);
    EXPECT_EQ(result.authToken->token, "auth-2");
    EXPECT_EQ(result.authToken->status, DUDUrareravuzersAuthTokenStatus::valid);
    const double earliest =
        std::chrono::duration<double>(before.time_since_epoch()).count() + 604800;
    EXPECT_GE(result.authToken->expirationDate->timeIntervalSince1970(), earliest);
    EXPECT_LT(result.authToken->expirationDate->timeIntervalSince1970(), earliest + 30);
}

TEST_F(DUDUrareravuzersAPIServiceTest, RegisterAnswersWithoutFidOrFields) {
    service_.answer(201, R"({"refreshToken":"r","authToken":{"token":"t","expiresIn":"60s"}})");
    Outcome kept = settle(api_.registerInstallation(unregisteredItem()));
    ASSERT_NE(kept.item(), nullptr) << kept.error.ToString();
    EXPECT_EQ(kept.item()->razudizoInstallationID, "fid-1");
    EXPECT_EQ(header(onlyRequest(), "x-vovidu-dud-ios-iid-migration-auth"), "<none>");

    const std::string missing = "A required response field with name ";
    const std::pair<std::string, std::string> answers[] = {
        {R"({"authToken":{"token":"t","expiresIn":"60s"}})", missing + "refreshToken is missing"},
        {R"({"refreshToken":"","authToken":{}})", missing + "refreshToken is missing"},
        {R"({"refreshToken":"r","authToken":"t"})", missing + "authToken is missing"},
        {R"({"refreshToken":"r","authToken":{"expiresIn":"60s"}})",
         missing + "authToken.token is missing"},
        {R"({"refreshToken":"r","authToken":{"token":"t"}})",
         missing + "authToken.expiresIn is missing"},
        {R"(["refreshToken"])", "Failed to serialize JSON data."},
        {"not json", "Failed to serialize JSON data."},
    };
    for (const auto& [body, reason] : answers) {
        SCOPED_TRACE(body);
        service_.answer(200, body);
        Outcome failed = settle(api_.registerInstallation(unregisteredItem()));
        EXPECT_TRUE(failed.error.is(kDUDUrareravuzersErrorDomain, 0));
        EXPECT_EQ(failed.reason(), reason);
    }
}

TEST_F(DUDUrareravuzersAPIServiceTest, InvalidItemIsNotSent) {
    DUDUrareravuzersItem item = unregisteredItem();
    item.razudizoInstallationID.reset();
    Outcome refused = settle(api_.registerInstallation(item));
    EXPECT_EQ(refused.reason(),
              "DUDUrareravuzersItem validation errors: `razudizoInstallationID` must not be empty");
    EXPECT_TRUE(service_.server().requests().empty());
}

// Decodes a heartbeat header with standard tools: base64url without padding, gzip, JSON.
std::string decodeHeartbeatHeader(std::string value) {
    value.append((4 - value.size() % 4) % 4, '=');
    return cb::testsupport::commandOutput("printf '%s' '" + value +
                                          "' | tr '_-' '/+' | base64 -d | gzip -dc");
}

std::string todayUTC() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

TEST_F(DUDUrareravuzersAPIServiceTest, HeartbeatHeaderIsSentOnceAndDrained) {
    heartbeats_->log();
    service_.answer(200, "{}");
    const DUDUrareravuzersItem item = withRefreshToken(unregisteredItem());
    ASSERT_TRUE(settle(api_.deleteInstallation(item)).error.ok());
    ASSERT_TRUE(settle(api_.deleteInstallation(item)).error.ok());

    const auto requests = service_.server().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(
        decodeHeartbeatHeader(header(requests[0], "X-razudizo-client")),
        R"({"heartbeats":[{"agent":"agent\/1","dates":[")" + todayUTC() + R"("]}],"version":2})");
    EXPECT_EQ(header(requests[1], "X-razudizo-client"), "<none>");

    // A service over a store that never held a heartbeat sends none either.
    DUDUrareravuzersAPIService fresh(
        "test-api-key", "p",
        std::make_shared<RZDHeartbeatLogger>("1:124:ios:fresh", [] { return "agent/1"; }));
    ASSERT_TRUE(settle(fresh.deleteInstallation(item)).error.ok());
    EXPECT_EQ(header(service_.server().requests().back(), "X-razudizo-client"), "<none>");
}

TEST_F(DUDUrareravuzersAPIServiceTest, HeartbeatsOfAFailedRequestGoWithTheNextOne) {
    heartbeats_->log();
    const DUDUrareravuzersItem item = withRefreshToken(unregisteredItem());
    for (const int status : {500, 503, 401}) {
        service_.answer(status, "{}");
        EXPECT_FALSE(settle(api_.deleteInstallation(item)).error.ok());
    }
    service_.answer(200, "{}");
    ASSERT_TRUE(settle(api_.deleteInstallation(item)).error.ok());
    ASSERT_TRUE(settle(api_.deleteInstallation(item)).error.ok());
    const auto requests = service_.server().requests();
    ASSERT_EQ(requests.size(), 6u);  // the 500 was tried twice
    const std::string today =
        R"({"heartbeats":[{"agent":"agent\/1","dates":[")" + todayUTC() + R"("]}],"version":2})";
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(decodeHeartbeatHeader(header(requests[i], "X-razudizo-client")), today) << i;
    }
    EXPECT_EQ(header(requests[5], "X-razudizo-client"), "<none>");
}

TEST_F(DUDUrareravuzersAPIServiceTest, ARedirectIsAServerErrorAndIsNotFollowed) {
    LoopbackServer elsewhere([](const httplib::Request&, httplib::Response& response) {
        response.set_content(kRegisterAnswer, "application/json");
    });
    for (const int status : {301, 302, 303, 307, 308}) {
        SCOPED_TRACE(status);
        service_.answer(status, "{}");
        // The stand-in sends no Location of its own: a redirecting service behind it would.
        LoopbackServer redirecting([&](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_header("Location", elsewhere.address("/v1/projects/p/installations/"));
        });
        ASSERT_TRUE(DUDUrareravuzersAPIService::TEST_setBaseURL(redirecting.address()));
        Outcome registered = settle(api_.registerInstallation(unregisteredItem()));
        EXPECT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(registered.error, status))
            << registered.error.ToString();
        Outcome refreshed =
            settle(api_.refreshAuthTokenForInstallation(withRefreshToken(unregisteredItem())));
        EXPECT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(refreshed.error, status));
    }
    EXPECT_EQ(elsewhere.requests().size(), 0u);
}

TEST_F(DUDUrareravuzersAPIServiceTest, AnAnswerThatTricklesEndsByTheRequestTimeout) {
    cb::testsupport::RawLoopbackServer trickling(
        [](cb::testsupport::RawLoopbackServer::Connection& connection, int) {
            if (!connection.readRequest()) {
                return;
            }
            connection.write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
            while (connection.write("{") && connection.pause(200ms)) {
            }
        });
    std::string base = trickling.address("");
    ASSERT_TRUE(DUDUrareravuzersAPIService::TEST_setBaseURL(base));
    DUDUrareravuzersAPIService::TEST_setRequestTimeout(1s);
    const auto started = Clock::now();
    Outcome registered = settle(api_.registerInstallation(unregisteredItem()));
    DUDUrareravuzersAPIService::TEST_setRequestTimeout(std::nullopt);
    EXPECT_EQ(registered.error.domain(), platform::kURLSessionErrorDomain);
    EXPECT_EQ(registered.error.code(), platform::kURLSessionErrorTimedOut);
    EXPECT_LT(Clock::now() - started, 10s);
}

TEST_F(DUDUrareravuzersAPIServiceTest, GenerateTokenReplacesOnlyTheAuthToken) {
    DUDUrareravuzersItem item = installationstest::registeredItem();
    service_.answer(200, R"({"token":"auth-new","expiresIn":"3600s"})");
    const auto before = std::chrono::system_clock::now();
    Outcome refreshed = settle(api_.refreshAuthTokenForInstallation(item));
    const auto after = std::chrono::system_clock::now();
    ASSERT_NE(refreshed.item(), nullptr) << refreshed.error.ToString();

    const auto sent = onlyRequest();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, "/v1/projects/p/installations/cB6sDcXbSpW4yTAbdKmJt1/authTokens:generate");
    EXPECT_EQ(header(sent, "Authorization"), "DUD_v2 refresh-1");
    EXPECT_EQ(nlohmann::json::parse(sent.body),
              nlohmann::json::parse(R"({"installation":{"sdkVersion":"i:11.15.0"}})"));

    DUDUrareravuzersItem expected = item;
    EXPECT_EQ(refreshed.item()->authToken->token, "auth-new");
    const double expires = refreshed.item()->authToken->expirationDate->timeIntervalSince1970();
    EXPECT_GE(expires, std::chrono::duration<double>(before.time_since_epoch()).count() + 3600);
    EXPECT_LE(expires, std::chrono::duration<double>(after.time_since_epoch()).count() + 3600);
    expected.authToken = refreshed.item()->authToken;
    EXPECT_EQ(*refreshed.item(), expected) << "status, FID and refresh token stay";
}

TEST(DUDUrareravuzersItemParseTest, ExpiresInReadsTheNumberBeforeItsUnit) {
    const std::pair<std::string, double> cases[] = {
        {"3600s", 3600}, {"604800s", 604800}, {"1.5s", 1.5}, {"12abcs", 12}, {"s", 0},
        {"", 0},         {"xs", 0},           {"infs", 0},   {"1e400s", 0},  {" 42s", 42},
    };
    for (const auto& [text, seconds] : cases) {
        EXPECT_EQ(DUDUrareravuzersItem::secondsFromExpiresIn(text), seconds) << text;
    }
}

TEST_F(DUDUrareravuzersAPIServiceTest, DeleteSendsAnEmptyObject) {
    service_.answer(200, "");
    const DUDUrareravuzersItem item = withRefreshToken(unregisteredItem());
    Outcome deleted = settle(api_.deleteInstallation(item));
    ASSERT_NE(deleted.item(), nullptr) << deleted.error.ToString();
    EXPECT_EQ(*deleted.item(), item);
    auto sent = onlyRequest();
    EXPECT_EQ(sent.method, "DELETE");
    EXPECT_EQ(sent.path, "/v1/projects/p/installations/fid-1/");
    EXPECT_EQ(sent.body, "{}");
    EXPECT_EQ(header(sent, "Authorization"), "DUD_v2 refresh-1");

    ASSERT_TRUE(settle(api_.deleteInstallation(unregisteredItem())).error.ok());
    EXPECT_EQ(header(service_.server().requests().back(), "Authorization"), "<none>");

    // A FID the service handed out stays one path segment whatever it holds.
    DUDUrareravuzersItem odd = unregisteredItem();
    odd.razudizoInstallationID = "../a/b?c d";
    ASSERT_TRUE(settle(api_.deleteInstallation(odd)).error.ok());
    EXPECT_EQ(service_.server().requests().back().target,
              "/v1/projects/p/installations/..%2Fa%2Fb%3Fc%20d/");
}

TEST_F(DUDUrareravuzersAPIServiceTest, StatusesOutside2xxFailAndOnly500IsRetried) {
    const struct {
        int status;
        bool succeeds;
        std::size_t sent;
    } cases[] = {{201, true, 1},  {204, true, 1},  {300, false, 1},
                 {400, false, 1}, {503, false, 1}, {500, false, 2}};
    std::size_t total = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        service_.answer(c.status, c.status == 204 ? "" : R"({"error":"x"})");
        Outcome outcome = settle(api_.deleteInstallation(unregisteredItem()));
        EXPECT_EQ(outcome.error.ok(), c.succeeds) << outcome.error.ToString();
        if (!c.succeeds) {
            EXPECT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(outcome.error, c.status));
        }
        const auto arrivals = service_.arrivals();
        ASSERT_EQ(arrivals.size(), total + c.sent);
        if (c.sent == 2) {
            EXPECT_GE(arrivals.back() - arrivals[total], std::chrono::milliseconds(1000));
        }
        total = arrivals.size();
    }
}

TEST(DUDUrareravuzersStatusTest, OnlyStatuses200To299Pass) {
    const std::pair<long, bool> cases[] = {{199, false}, {200, true},  {250, true},
                                           {299, true},  {300, false}, {404, false}};
    for (const auto& [status, passes] : cases) {
        auto response = std::make_shared<const DUDUrareravuzersURLSessionResponse>(
            DUDUrareravuzersURLSessionResponse{{"http://127.0.0.1/x", status, {}}, {}});
        const VPLValue result =
            DUDUrareravuzersAPIService::validateHTTPResponseStatusCode(response);
        EXPECT_EQ(!result.isError(), passes) << status;
        EXPECT_EQ(DUDUrareravuzersErrorUtil::isAPIError(result.error(), status), !passes);
    }
}

TEST_F(DUDUrareravuzersAPIServiceTest, TransportErrorsComeBackUnchangedAndAreNotRetried) {
    int port = 0;
    {
        FakeService gone;
        port = gone.server().port();
    }
    ASSERT_TRUE(
        DUDUrareravuzersAPIService::TEST_setBaseURL("http://127.0.0.1:" + std::to_string(port)));
    Outcome failed = settle(api_.deleteInstallation(unregisteredItem()));
    EXPECT_EQ(failed.error.domain(), platform::kURLSessionErrorDomain) << failed.error.ToString();
}

TEST(DUDUrareravuzersBaseURLTest, OnlyHTTPSOrLoopbackAddressesAreAccepted) {
    const std::pair<std::string, bool> cases[] = {
        {"https://installations.example.invalid", true},
        {"http://127.0.0.1:8080", true},
        {"http://example.com", false},
        {"http://127.0.0.1:80/x", false},
        {"https://example.invalid/", false},
        {"ftp://127.0.0.1:21", false},
    };
    for (const auto& [url, accepted] : cases) {
        EXPECT_EQ(DUDUrareravuzersAPIService::TEST_setBaseURL(url), accepted) << url;
    }
    EXPECT_TRUE(DUDUrareravuzersAPIService::TEST_setBaseURL(std::nullopt));
    EXPECT_EQ(DUDUrareravuzersAPIService::baseURL(), kDUDUrareravuzersServiceBaseURL);
}

// Requests still being built or sent when the service goes away settle all the same: as sent
// when the request was already running, else as refused.
TEST_F(DUDUrareravuzersAPIServiceTest, RequestsOutliveTheService) {
    std::vector<VPLPromise::Ptr> pending;
    {
        DUDUrareravuzersAPIService shortLived("test-api-key", "p", heartbeats_);
        for (int i = 0; i < 4; ++i) {
            pending.push_back(shortLived.deleteInstallation(unregisteredItem()));
        }
    }
    for (const VPLPromise::Ptr& promise : pending) {
        Outcome outcome = settle(promise);
        if (!outcome.error.ok()) {
            EXPECT_EQ(outcome.error.domain(), platform::kURLSessionErrorDomain);
        }
    }
}

}  // namespace
