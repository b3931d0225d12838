#include "platform/urlsession/URLSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/LoopbackServer.h"

namespace platform {
namespace {

using cb::testsupport::LoopbackServer;
using namespace std::chrono_literals;

// Sends `request` and waits for its outcome (a hung transfer fails the test instead of
// blocking it).
URLOutcome sendAndWait(URLSession& session, URLRequest request) {
    auto promise = std::make_shared<std::promise<URLOutcome>>();
    std::future<URLOutcome> result = promise->get_future();
    session.send(std::move(request),
                 [promise](URLOutcome outcome) { promise->set_value(std::move(outcome)); });
    if (result.wait_for(30s) != std::future_status::ready) {
        ADD_FAILURE() << "no outcome";
        return {};
    }
    return result.get();
}

URLRequest get(std::string url) {
    URLRequest request;
    request.url = std::move(url);
    return request;
}

// Answers "/redirect-to?<url>" with a 302 to that address, "/big?<n>" with n bytes (with a
// Content-Length), "/chunked?<n>" with n bytes in chunks, "/drop" by closing the connection
// after the headers, and anything else with 200 and "hello".
void respond(const httplib::Request& request, httplib::Response& response) {
    const std::string query = request.target.substr(request.target.find('?') + 1);
    if (request.path == "/redirect-to") {
        response.set_redirect(query);
    } else if (request.path == "/big") {
        response.set_content(std::string(std::stoul(query), 'x'), "text/plain");
    } else if (request.path == "/chunked") {
        const size_t size = std::stoul(query);
        response.set_chunked_content_provider(
            "text/plain", [size, sent = size_t{0}](size_t, httplib::DataSink& sink) mutable {
                if (sent >= size) {
                    sink.done();
                    return true;
                }
                const std::string piece(std::min<size_t>(size - sent, 4096), 'x');
                sent += piece.size();
                return sink.write(piece.data(), piece.size());
            });
    } else if (request.path == "/drop") {
        response.set_content_provider(100, "text/plain",
                                      [](size_t, size_t, httplib::DataSink&) { return false; });
    } else {
        response.set_content("hello", "text/plain");
    }
}

class URLSessionTest : public ::testing::Test {
  protected:
    LoopbackServer server_{respond};
    URLSession session_;
};

TEST_F(URLSessionTest, GetReturnsStatusAndBodyAndSendsNoHeadersOfItsOwn) {
    URLOutcome outcome = sendAndWait(session_, get(server_.address("/a/b?x=1&y=%2F")));
    ASSERT_TRUE(outcome.ok()) << outcome.errorMessage;
    EXPECT_EQ(outcome.statusCode, 200);
    EXPECT_EQ(outcome.body, "hello");
    const auto requests = server_.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& received = requests[0];
    EXPECT_EQ(received.method, "GET");
    EXPECT_EQ(received.target, "/a/b?x=1&y=%2F");
    for (const auto& [name, value] : received.headers) {
        EXPECT_TRUE(name == "Host" || name == "Accept" || name == "REMOTE_ADDR" ||
                    name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            << name << ": " << value;
    }
}

TEST_F(URLSessionTest, PostSendsBodyAndHeaders) {
    URLRequest request = get(server_.address("/post"));
    request.method = "POST";
    request.headers = {{"Content-Type", "application/json"}};
    request.body = std::string(3000, 'b');  // large enough that a client might ask to continue
    ASSERT_TRUE(sendAndWait(session_, request).ok());

    request.body.reset();
    ASSERT_TRUE(sendAndWait(session_, request).ok());

    auto received = server_.requests();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].body, std::string(3000, 'b'));
    EXPECT_EQ(received[0].headers.count("Content-Type"), 1u);
    EXPECT_EQ(received[0].headers.find("Content-Type")->second, "application/json");
    EXPECT_EQ(received[0].headers.count("Expect"), 0u);
    EXPECT_EQ(received[1].method, "POST");
    EXPECT_EQ(received[1].body, "");
}

TEST_F(URLSessionTest, OnlyHttpAndHttpsAreSentAlsoOnRedirects) {
    const std::string hostAndPort = "127.0.0.1:" + std::to_string(server_.port());
    for (const std::string& url :
         {"gopher://" + hostAndPort + "/", hostAndPort + "/x", std::string("/relative"),
          std::string(""), std::string("file:///etc/passwd"), "ftp://" + hostAndPort + "/"}) {
        URLOutcome outcome = sendAndWait(session_, get(url));
        EXPECT_EQ(outcome.error, URLErrorCode::unsupportedURL) << url;
    }
    EXPECT_TRUE(server_.requests().empty());

    URLOutcome refused =
        sendAndWait(session_, get(server_.address("/redirect-to?gopher://" + hostAndPort + "/")));
    EXPECT_EQ(refused.error, URLErrorCode::unsupportedURL);
    EXPECT_EQ(server_.requests().size(), 1u);

    URLOutcome followed =
        sendAndWait(session_, get(server_.address("/redirect-to?" + server_.address("/end"))));
    ASSERT_TRUE(followed.ok()) << followed.errorMessage;
    EXPECT_EQ(followed.body, "hello");
    ASSERT_EQ(server_.requests().size(), 3u);
    EXPECT_EQ(server_.requests()[2].path, "/end");
}

TEST_F(URLSessionTest, BodiesOverTheCapAreRefused) {
    struct Case {
        std::string path;
        size_t size;
        bool accepted;
    };
    const Case cases[] = {{"/big", 1000, true},
                          {"/big", 1001, false},
                          {"/chunked", 1000, true},
                          {"/chunked", 1001, false},
                          {"/chunked", 50000, false}};
    for (const Case& c : cases) {
        URLRequest request = get(server_.address(c.path + "?" + std::to_string(c.size)));
        request.maxResponseBytes = 1000;
        URLOutcome outcome = sendAndWait(session_, request);
        if (c.accepted) {
            EXPECT_TRUE(outcome.ok()) << c.path << " " << c.size << ": " << outcome.errorMessage;
            EXPECT_EQ(outcome.body.size(), c.size);
        } else {
            EXPECT_EQ(outcome.error, URLErrorCode::responseTooLarge) << c.path << " " << c.size;
            EXPECT_TRUE(outcome.body.empty());
        }
    }
}

TEST_F(URLSessionTest, BrokenAndRefusedConnectionsFail) {
    EXPECT_EQ(sendAndWait(session_, get(server_.address("/drop"))).error, URLErrorCode::failed);

    int closedPort = 0;
    {
        LoopbackServer gone(respond);
        closedPort = gone.port();
    }
    URLOutcome refused =
        sendAndWait(session_, get("http://127.0.0.1:" + std::to_string(closedPort) + "/"));
    EXPECT_EQ(refused.error, URLErrorCode::failed);
}

// A server that holds every request until the test lets it go.
class HeldRequestTest : public ::testing::Test {
  protected:
    std::latch release_{1};
    LoopbackServer server_{[this](const httplib::Request&, httplib::Response& response) {
        release_.wait();
        response.set_content("late", "text/plain");
    }};

    void TearDown() override { release_.count_down(); }
};

TEST_F(HeldRequestTest, TimeoutEndsTheTransfer) {
    URLSession session;
    URLRequest request = get(server_.address("/slow"));
    request.timeout = 200ms;
    EXPECT_EQ(sendAndWait(session, request).error, URLErrorCode::timedOut);
}

TEST_F(HeldRequestTest, DestroyedSessionCancelsItsTransfers) {
    std::promise<URLOutcome> promise;
    std::future<URLOutcome> result = promise.get_future();
    {
        URLSession session;
        session.send(get(server_.address("/held")),
                     [&promise](URLOutcome outcome) { promise.set_value(std::move(outcome)); });
        ASSERT_TRUE(server_.waitForRequests(1));
    }
    ASSERT_EQ(result.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(result.get().error, URLErrorCode::cancelled);
}

TEST(URLSessionConcurrencyTest, ManyThreadsSendAtOnce) {
    LoopbackServer server(respond);
    URLSession session;
    constexpr int kThreads = 4;
    constexpr int kEach = 2;  // the server's listen backlog is short
    std::atomic<int> succeeded{0};
    std::latch done(kThreads * kEach);
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                session.send(get(server.address("/")), [&](URLOutcome outcome) {
                    succeeded += outcome.ok() && outcome.body == "hello" ? 1 : 0;
                    done.count_down();
                });
            }
        });
    }
    done.wait();
    EXPECT_EQ(succeeded.load(), kThreads * kEach);
    EXPECT_EQ(server.requests().size(), size_t{kThreads * kEach});
}

}  // namespace
}  // namespace platform
