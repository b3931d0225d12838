// What both sessions of the layer refuse to do whatever the server or the caller asks: carry
// credentials to another origin, follow https to http, send a header field with a line break,
// run past the request's deadline, or send a POST a second time by themselves.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "platform/urlsession/URLSession.h"
#include "platform/urlsession/URLTaskSession.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawLoopbackServer.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificateAuthority.h"

namespace platform {
namespace {

using cb::testsupport::LoopbackServer;
using cb::testsupport::RawLoopbackServer;
using cb::testsupport::TempDir;
using cb::testsupport::TestCertificateAuthority;
using namespace std::chrono_literals;

const std::vector<std::string> kCredentialFields = {"Authorization", "X-Vovidu-Api-Key", "Cookie",
                                                    "x-vovidu-dud-ios-iid-migration-auth"};

// The outcome of one task of a URLTaskSession: the final status (0 for none) and the error code
// (0 for none).
struct TaskEnd {
    long status = 0;
    long error = 0;
    std::string message;
};

class Completion : public URLSessionDelegate {
  public:
    void didComplete(URLTaskSession&, URLSessionTask& task,
                     const std::optional<URLSessionError>& error) override {
        const auto response = task.response();
        ended_.set_value(TaskEnd{response ? response->statusCode : 0, error ? error->code : 0,
                                 error ? error->message : ""});
    }
    // Drains the main queue until the task has ended (at most 20 s).
    std::optional<TaskEnd> wait() {
        std::future<TaskEnd> future = ended_.get_future();
        runMainQueueUntil([&] { return future.wait_for(0s) == std::future_status::ready; }, 20s);
        if (future.wait_for(0s) != std::future_status::ready) {
            return std::nullopt;
        }
        return future.get();
    }

  private:
    std::promise<TaskEnd> ended_;
};

std::optional<TaskEnd> runTask(
    URLRequest request,
    URLSessionConfiguration configuration = URLSessionConfiguration::defaultConfiguration()) {
    auto delegate = std::make_shared<Completion>();
    auto session = URLTaskSession::create(std::move(configuration), delegate);
    std::shared_ptr<URLSessionTask> task = session->dataTask(std::move(request));
    task->resume();
    std::optional<TaskEnd> end = delegate->wait();
    session->finishTasksAndInvalidate();
    return end;
}

URLOutcome sendAndWait(URLRequest request) {
    URLSession session;
    std::promise<URLOutcome> outcome;
    session.send(std::move(request), [&](URLOutcome result) { outcome.set_value(result); });
    return outcome.get_future().get();
}

class URLSessionTrustTest : public ::testing::Test {
  protected:
    void SetUp() override { TEST_setExtraCertificateAuthorities(authority_.caCertificate()); }
    void TearDown() override { TEST_setExtraCertificateAuthorities({}); }

    URLRequest withCredentials(std::string url) const {
        URLRequest request;
        request.url = std::move(url);
        request.method = "POST";
        request.body = "{}";
        request.headers = {{"Authorization", "DUD_v2 refresh-secret"},
                           {"X-Vovidu-Api-Key", "test-api-key"},
                           {"Cookie", "sid=secret"},
                           {"x-vovidu-dud-ios-iid-migration-auth", "legacy-secret"},
                           {"X-Plain", "kept"}};
        return request;
    }

    // Every credential field that reached `server`, as "<field>" lines.
    static std::vector<std::string> credentialsAt(const LoopbackServer& server) {
        std::vector<std::string> seen;
        for (const auto& request : server.requests()) {
            for (const std::string& field : kCredentialFields) {
                if (request.headers.count(field) != 0) {
                    seen.push_back(field);
                }
            }
        }
        return seen;
    }

    TempDir folder_{"cb-trust"};
    TestCertificateAuthority authority_{folder_.path()};
};

// "/<status>" answers that status with the Location `*next` (and `setCookie`, if any); any
// other path answers "end".
LoopbackServer::Responder redirecting(std::shared_ptr<std::string> next,
                                      std::string setCookie = "") {
    return [next, setCookie](const httplib::Request& request, httplib::Response& response) {
        if (request.path != "/end") {
            response.status = std::stoi(request.path.substr(1));
            response.set_header("Location", *next);
            if (!setCookie.empty()) {
                response.set_header("Set-Cookie", setCookie);
            }
        } else {
            response.set_content("end", "text/plain");
        }
    };
}

TEST_F(URLSessionTrustTest, CredentialsStayWithTheFirstOriginAndHttpsNeverFallsToHttp) {
    // first (https) -> another port (https) -> plain http: the second server sees no credential,
    // the third nothing at all.
    auto toSecond = std::make_shared<std::string>();
    auto toPlain = std::make_shared<std::string>();
    LoopbackServer plain(redirecting(toPlain));
    LoopbackServer second(redirecting(toPlain), authority_.serverIdentity());
    LoopbackServer first(redirecting(toSecond, "session=first-origin; Path=/"),
                         authority_.serverIdentity());
    *toPlain = plain.address("/end");
    for (const std::string status : {"307", "308", "302", "303"}) {
        SCOPED_TRACE(status);
        *toSecond = second.address("/" + status);
        const std::string start = first.address("/" + status);
        URLSessionConfiguration configuration = URLSessionConfiguration::defaultConfiguration();
        configuration.additionalHeaders = {{"X-Vovidu-Api-Key", "session-wide-key"}};
        const std::optional<TaskEnd> task = runTask(withCredentials(start), configuration);
        ASSERT_TRUE(task.has_value());
        EXPECT_EQ(task->status, std::stol(status));  // the redirect to http ends the task
        const URLOutcome outcome = sendAndWait(withCredentials(start));
        EXPECT_EQ(outcome.error, URLErrorCode::unsupportedURL);
    }
    EXPECT_EQ(first.requests().size(), 8u);
    EXPECT_EQ(credentialsAt(first).size(), 8u * kCredentialFields.size());
    ASSERT_EQ(second.requests().size(), 8u);
    EXPECT_EQ(credentialsAt(second), std::vector<std::string>());
    for (const auto& request : second.requests()) {
        EXPECT_EQ(request.headers.count("X-Plain"), 1u);
    }
    EXPECT_EQ(plain.requests().size(), 0u);
}

TEST_F(URLSessionTrustTest, CredentialsFollowARedirectWithinTheOrigin) {
    auto next = std::make_shared<std::string>();
    LoopbackServer server(redirecting(next));
    *next = server.address("/end");
    const std::string start = server.address("/307");
    ASSERT_EQ(runTask(withCredentials(start))->status, 200);
    ASSERT_EQ(sendAndWait(withCredentials(start)).statusCode, 200);
    EXPECT_EQ(server.requests().size(), 4u);
    EXPECT_EQ(credentialsAt(server).size(), 4u * kCredentialFields.size());
}

TEST_F(URLSessionTrustTest, HeaderFieldsWithLineBreaksOrNulAreRefusedBeforeSending) {
    LoopbackServer server(redirecting(std::make_shared<std::string>()));
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"X-Tgw-Server-Preview", "abc\r\nX-Injected: evil"},
        {"X-Tgw-Server-Preview", "abc\nX-Injected: evil"},
        {"X-Tgw-Server-Preview", std::string("abc\0def", 7)},
        {"X-Bad\r\nX-Injected", "evil"},
        {"X-Bad: X-Injected", "evil"},
    };
    for (const auto& field : bad) {
        SCOPED_TRACE(field.first);
        URLRequest request;
        request.url = server.address("/end");
        request.headers = {field};
        const std::optional<TaskEnd> task = runTask(request);
        ASSERT_TRUE(task.has_value());
        EXPECT_EQ(task->status, 0);
        EXPECT_NE(task->error, 0);
        EXPECT_NE(task->message.find("CR, LF or NUL"), std::string::npos) << task->message;
        URLSessionConfiguration sessionWide = URLSessionConfiguration::defaultConfiguration();
        sessionWide.additionalHeaders = {field};
        request.headers.clear();
        EXPECT_NE(runTask(request, sessionWide)->error, 0);
        request.headers = {field};
        const URLOutcome outcome = sendAndWait(request);
        EXPECT_EQ(outcome.error, URLErrorCode::failed);
        EXPECT_NE(outcome.errorMessage.find("CR, LF or NUL"), std::string::npos);
    }
    EXPECT_EQ(server.requests().size(), 0u);
}

TEST_F(URLSessionTrustTest, AWholeRequestEndsByItsTimeoutEvenWhenTheBodyTrickles) {
    // One byte every 200 ms keeps any idle limit happy; only a whole-request deadline ends it.
    RawLoopbackServer server([](RawLoopbackServer::Connection& connection, int) {
        if (!connection.readRequest()) {
            return;
        }
        connection.write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        while (connection.write("x") && connection.pause(200ms)) {
        }
    });
    URLRequest request;
    request.url = server.address();
    request.method = "POST";
    request.body = "{}";
    request.timeout = 1s;
    const auto started = std::chrono::steady_clock::now();
    const std::optional<TaskEnd> task = runTask(request);
    ASSERT_TRUE(task.has_value());
    EXPECT_EQ(task->error, kURLSessionErrorTimedOut);
    // A session limit shorter than the request's wins.
    URLSessionConfiguration shorter = URLSessionConfiguration::ephemeralConfiguration();
    shorter.timeoutIntervalForResource = 1s;
    request.timeout = 60s;
    EXPECT_EQ(runTask(request, shorter)->error, kURLSessionErrorTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    request.timeout = 1s;
    EXPECT_EQ(sendAndWait(request).error, URLErrorCode::timedOut);
}

TEST_F(URLSessionTrustTest, APostOnAKeptAliveConnectionThatClosesArrivesOnce) {
    // Each connection answers its first request and keeps alive; a later request on it is read
    // and the connection closed without an answer.
    std::mutex mutex;
    std::vector<std::string> arrivals;
    RawLoopbackServer server([&](RawLoopbackServer::Connection& connection, int) {
        for (int onThisConnection = 0;; ++onThisConnection) {
            std::optional<std::string> request = connection.readRequest();
            if (!request) {
                return;
            }
            {
                std::lock_guard lock(mutex);
                arrivals.push_back(request->substr(request->rfind("\r\n\r\n") + 4));
            }
            if (onThisConnection > 0) {
                return;  // closed after the body was read
            }
            connection.write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        }
    });
    auto post = [&](std::string body) {
        URLRequest request;
        request.url = server.address();
        request.method = "POST";
        request.body = std::move(body);
        return request;
    };
    ASSERT_EQ(runTask(post("task-1"))->status, 200);
    runTask(post("task-2"));
    ASSERT_EQ(sendAndWait(post("send-1")).statusCode, 200);
    sendAndWait(post("send-2"));
    std::lock_guard lock(mutex);
    for (const std::string body : {"task-1", "task-2", "send-1", "send-2"}) {
        EXPECT_EQ(std::count(arrivals.begin(), arrivals.end(), body), 1) << body;
    }
}

}  // namespace
}  // namespace platform
