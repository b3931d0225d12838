#include "sdk/utilities/VDUNetwork.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <stdexcept>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "platform/urlsession/URLTaskSession.h"
#include "sdk/utilities/VDUGzip.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/RawLoopbackServer.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using cb::testsupport::LoopbackServer;
using cb::testsupport::RawLoopbackServer;
using cb::testsupport::TempDir;

sdk::Bytes bytes(const std::string& text) {
    return sdk::Bytes(text.begin(), text.end());
}

// "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX" with upper-case hex digits, Y one of 8, 9, A, B.
bool isUpperCaseUUIDv4(const std::string& text) {
    const std::string hex = "0123456789ABCDEF";
    if (text.size() != 36 || text[14] != '4' ||
        std::string("89AB").find(text[19]) == std::string::npos) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : hex.find(text[i]) == std::string::npos) {
            return false;
        }
    }
    return true;
}

std::size_t headerCount(const httplib::Headers& headers, const std::string& name) {
    return headers.count(name);
}

// What one handler call received.
struct Outcome {
    int calls = 0;
    bool onQueue = false;
    VDUNetwork::Response response;
    VDUNetwork::Data data;
    sdk::Error error;
};

// Records every log call of the network client.
struct RecordingLogger : VDUNetworkLoggerDelegate {
    void VDUNetwork_logWithLevel(std::int64_t, std::int64_t code, const std::optional<std::string>&,
                                 const std::vector<sdk::Value>& contexts) override {
        record(code, contexts);
    }
    void VDUNetwork_logWithLevel(std::int64_t, std::int64_t code, const std::optional<std::string>&,
                                 const sdk::Value& context) override {
        record(code, {context});
    }
    void VDUNetwork_logWithLevel(std::int64_t, std::int64_t code,
                                 const std::optional<std::string>&) override {
        record(code, {});
    }
    void record(std::int64_t code, std::vector<sdk::Value> contexts) {
        std::lock_guard lock(mutex);
        codes.push_back(code);
        contextsOf.push_back(std::move(contexts));
    }
    std::vector<std::int64_t> seen() {
        std::lock_guard lock(mutex);
        return codes;
    }
    std::size_t countOf(std::int64_t code) {
        const auto all = seen();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), code));
    }
    std::mutex mutex;
    std::vector<std::int64_t> codes;                  // guarded by mutex
    std::vector<std::vector<sdk::Value>> contextsOf;  // guarded by mutex
};

// Answers "/status/<n>" with status n, "/to/<n>?<target>" with status n and a Location,
// "/loop/<i>" with a 303 to "/loop/<i+1>", and anything else with 200 "ok".
void respond(const httplib::Request& request, httplib::Response& response) {
    const std::string& path = request.path;
    if (path.starts_with("/status/")) {
        response.status = std::stoi(path.substr(8));
        response.set_content("failed", "text/plain");
    } else if (path.starts_with("/to/")) {
        response.status = std::stoi(path.substr(4));
        response.set_header("Location", request.target.substr(request.target.find('?') + 1));
        response.set_content("moved", "text/plain");
    } else if (path.starts_with("/loop/")) {
        response.status = 303;
        response.set_header("Location", "/loop/" + std::to_string(std::stoi(path.substr(6)) + 1));
    } else {
        response.set_content("ok", "text/plain");
    }
}

class VDUNetworkTest : public ::testing::Test {
  protected:
    VDUNetworkTest() {
        network_ = VDUNetwork::createWithReachabilityHost("127.0.0.1");
        queue_ = platform::DispatchQueue::createSerial("caller");
    }

    // The handler records into outcome_ (on the caller's queue) and checks it runs there.
    VDUNetwork::CompletionHandler recorder() {
        return [this, queue = queue_](const VDUNetwork::Response& response,
                                      const VDUNetwork::Data& data, const sdk::Error& error) {
            std::lock_guard lock(mutex_);
            ++outcome_.calls;
            outcome_.onQueue = queue->isCurrent();
            outcome_.response = response;
            outcome_.data = data;
            outcome_.error = error;
        };
    }

    // Drains the main queue until the handler has run, then returns what it got.
    Outcome waitForOutcome() {
        platform::runMainQueueUntil(
            [&] {
                std::lock_guard lock(mutex_);
                return outcome_.calls > 0;
            },
            20s);
        queue_->sync([] {});
        std::lock_guard lock(mutex_);
        return outcome_;
    }

    std::optional<std::string> post(const std::string& url, const std::string& payload,
                                    VDUNetwork::Headers headers = {}, bool background = false) {
        return network_->postURL(url, headers, bytes(payload), queue_, background, recorder());
    }

    std::optional<std::string> get(const std::string& url) {
        return network_->getURL(url, {}, queue_, false, recorder());
    }

    TempDir data_;
    sdktest::ScopedEnv dataHome_{"XDG_DATA_HOME", data_.path().string()};
    sdktest::LoggedLines log_;
    std::shared_ptr<RecordingLogger> logger_ = std::make_shared<RecordingLogger>();
    std::shared_ptr<VDUNetwork> network_;
    platform::QueueRef queue_;
    std::mutex mutex_;
    Outcome outcome_;  // guarded by mutex_
};

TEST_F(VDUNetworkTest, PostSendsTheGzippedPayloadOnceWithItsHeaders) {
    LoopbackServer server(respond);
    ASSERT_NE(network_, nullptr);
    const std::string payload(5000, 'p');
    const std::optional<std::string> id =
        post(server.address("/upload"), payload,
             {{"Content-Type", "text/plain"}, {"X-Batch", "7"}, {"content-encoding", "br"}});
    ASSERT_TRUE(id.has_value());
    const std::string prefix = "com.vdu.network.background-upload-";
    ASSERT_TRUE(id->starts_with(prefix)) << *id;
    EXPECT_TRUE(isUpperCaseUUIDv4(id->substr(prefix.size()))) << *id;
    EXPECT_TRUE(network_->hasUploadInProgress());
    const Outcome outcome = waitForOutcome();
    EXPECT_FALSE(network_->hasUploadInProgress());

    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.onQueue);
    EXPECT_TRUE(outcome.error.ok()) << outcome.error.ToString();
    ASSERT_TRUE(outcome.response.has_value());
    EXPECT_EQ(outcome.response->statusCode, 200);
    EXPECT_EQ(outcome.data, bytes("ok"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& headers = requests[0].headers;
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(headerCount(headers, "Content-Type"), 1u);
    EXPECT_EQ(requests[0].headers.find("Content-Type")->second,
              "application/x-www-form-urlencoded");
    EXPECT_EQ(headerCount(headers, "Content-Encoding"), 1u);
    EXPECT_EQ(headers.find("Content-Encoding")->second, "gzip");
    EXPECT_EQ(headers.find("X-Batch")->second, "7");
    EXPECT_LT(std::stoul(headers.find("Content-Length")->second), payload.size());
    EXPECT_EQ(requests[0].body, payload);  // the server inflates gzip bodies
}

TEST_F(VDUNetworkTest, EmptyPayloadIsAnEmptyGzipBody) {
    LoopbackServer server(respond);
    ASSERT_TRUE(post(server.address("/empty"), "").has_value());
    EXPECT_TRUE(waitForOutcome().error.ok());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].headers.find("Content-Length")->second, "0");
    EXPECT_EQ(requests[0].headers.find("Content-Encoding")->second, "gzip");
    EXPECT_TRUE(requests[0].body.empty());
}

TEST_F(VDUNetworkTest, EmptyURLFailsOnTheCallersQueueWithoutARequest) {
    log_.take();
    EXPECT_FALSE(post("", "x").has_value());
    const Outcome outcome = waitForOutcome();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.onQueue);
    EXPECT_FALSE(outcome.response.has_value());
    EXPECT_TRUE(outcome.error.is("com.vdu.network.ErrorDomain", 1));
    const sdk::Value* context = outcome.error.userInfoValue("Context");
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(*context, sdk::Value("Failed to create network request"));
    EXPECT_FALSE(network_->hasUploadInProgress());
    bool warned = false;
    for (const std::string& line : log_.take()) {
        warned = warned || line.find(
                               "[I-NET900002] <Vovidu/Utilities/Network/WARNING> Failed to "
                               "create network request. Code, error: 1") != std::string::npos;
    }
    EXPECT_TRUE(warned);
}

TEST_F(VDUNetworkTest, AHandlerThatThrowsIsLoggedAndTheQueueGoesOn) {
    LoopbackServer server(respond);
    log_.take();
    std::atomic<int> thrown = 0;
    auto throwing = [&](const VDUNetwork::Response&, const VDUNetwork::Data&, const sdk::Error&) {
        ++thrown;
        throw std::bad_alloc();
    };
    // A reply from the server, and a request that fails before it is sent.
    ASSERT_TRUE(network_->getURL(server.address("/"), {}, queue_, false, throwing));
    EXPECT_FALSE(network_->getURL("", {}, queue_, false, throwing));
    platform::runMainQueueUntil([&] { return thrown == 2; }, 20s);
    queue_->sync([] {});
    EXPECT_EQ(thrown, 2);
    // The queue still runs what comes next.
    ASSERT_TRUE(get(server.address("/")).has_value());
    EXPECT_EQ(waitForOutcome().data, bytes("ok"));
    int logged = 0;
    for (const std::string& line : log_.take()) {
        logged += line.find("[I-NET900004]") != std::string::npos;
    }
    EXPECT_EQ(logged, 2);
}

TEST_F(VDUNetworkTest, ServerErrorIsAResponseWithoutError) {
    LoopbackServer server(respond);
    ASSERT_TRUE(get(server.address("/status/500")).has_value());
    const Outcome outcome = waitForOutcome();
    EXPECT_TRUE(outcome.error.ok());
    ASSERT_TRUE(outcome.response.has_value());
    EXPECT_EQ(outcome.response->statusCode, 500);
    EXPECT_EQ(outcome.data, bytes("failed"));
}

TEST_F(VDUNetworkTest, ClosedPortIsATransportErrorThatIsLogged) {
    int port = 0;
    {
        LoopbackServer server(respond);
        port = server.port();
    }
    log_.take();
    ASSERT_TRUE(post("http://127.0.0.1:" + std::to_string(port) + "/", "x").has_value());
    const Outcome outcome = waitForOutcome();
    EXPECT_FALSE(outcome.response.has_value());
    EXPECT_EQ(outcome.error.domain(), platform::kURLSessionErrorDomain);
    EXPECT_EQ(outcome.error.code(), 7);  // could not connect
    bool logged = false;
    for (const std::string& line : log_.take()) {
        logged = logged || line.find("[I-NET901017]") != std::string::npos;
    }
    EXPECT_TRUE(logged);
}

TEST_F(VDUNetworkTest, ZeroTimeoutMeansSixtySeconds) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    LoopbackServer server([&](const httplib::Request&, httplib::Response& response) {
        released.wait();
        response.set_content("ok", "text/plain");
    });
    network_->setTimeoutInterval(0);
    const std::optional<std::string> id = get(server.address("/held"));
    ASSERT_TRUE(id.has_value());
    ASSERT_TRUE(server.waitForRequests(1));
    std::shared_ptr<VDUNetworkURLSession> fetcher =
        VDUNetworkURLSession::sessionFromFetcherMapForSessionID(*id);
    ASSERT_NE(fetcher, nullptr);
    EXPECT_EQ(fetcher->sessionConfig().timeoutIntervalForRequest, 60s);
    EXPECT_EQ(fetcher->sessionConfig().timeoutIntervalForResource, 60s);
    fetcher.reset();
    release.set_value();
    EXPECT_TRUE(waitForOutcome().error.ok());
}

TEST_F(VDUNetworkTest, RedirectsRefusedOrFollowedByStatus) {
    LoopbackServer server(respond);
    const std::string target = server.address("/target");
    for (const int status : {302, 301}) {
        SCOPED_TRACE(status);
        outcome_ = {};
        const std::size_t before = server.requests().size();
        ASSERT_TRUE(post(server.address("/to/" + std::to_string(status) + "?" + target), "x"));
        const Outcome outcome = waitForOutcome();
        ASSERT_TRUE(outcome.response.has_value());
        EXPECT_EQ(outcome.response->statusCode, status);
        EXPECT_EQ(outcome.data, bytes("moved"));
        EXPECT_EQ(server.requests().size(), before + 1);
    }

    outcome_ = {};
    ASSERT_TRUE(post(server.address("/to/303?" + target), "payload"));
    EXPECT_EQ(waitForOutcome().response->statusCode, 200);
    auto requests = server.requests();
    EXPECT_EQ(requests.back().method, "GET");
    EXPECT_EQ(requests.back().path, "/target");
    EXPECT_TRUE(requests.back().body.empty());

    outcome_ = {};
    ASSERT_TRUE(post(server.address("/to/308?" + target), "payload"));
    EXPECT_EQ(waitForOutcome().response->statusCode, 200);
    requests = server.requests();
    EXPECT_EQ(requests.back().method, "POST");
    EXPECT_EQ(requests.back().path, "/target");
    EXPECT_EQ(requests.back().body, "payload");
}

TEST_F(VDUNetworkTest, CallersCredentialsStayWithTheFirstOrigin) {
    LoopbackServer other(respond);
    LoopbackServer first(respond);
    for (const std::string status : {"303", "308"}) {
        SCOPED_TRACE(status);
        {
            std::lock_guard lock(mutex_);
            outcome_ = Outcome();
        }
        ASSERT_TRUE(post(first.address("/to/" + status + "?" + other.address("/end")), "body",
                         {{"Authorization", "DUD_v2 secret"},
                          {"X-Vovidu-Api-Key", "test-api-key"},
                          {"X-Plain", "kept"}}));
        EXPECT_EQ(waitForOutcome().response->statusCode, 200);
    }
    ASSERT_EQ(other.requests().size(), 2u);
    for (const auto& request : other.requests()) {
        EXPECT_EQ(headerCount(request.headers, "Authorization"), 0u);
        EXPECT_EQ(headerCount(request.headers, "X-Vovidu-Api-Key"), 0u);
        EXPECT_EQ(headerCount(request.headers, "X-Plain"), 1u);
    }
    for (const auto& request : first.requests()) {
        EXPECT_EQ(headerCount(request.headers, "X-Vovidu-Api-Key"), 1u);
    }
}

TEST_F(VDUNetworkTest, ABodyCutShortPastItsCapOrStalledIsAnError) {
    struct Case {
        std::string name;
        std::function<void(RawLoopbackServer::Connection&)> answer;
    };
    const std::vector<Case> cases = {
        {"announced far past the cap",
         [](RawLoopbackServer::Connection& connection) {
             connection.write("HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\nabc");
         }},
        {"shorter than its length",
         [](RawLoopbackServer::Connection& connection) {
             connection.write("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\nabc");
         }},
        {"endless chunks past 16 MiB",
         [](RawLoopbackServer::Connection& connection) {
             connection.write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
             const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
             for (int i = 0; i < 17 * 16 + 1 && connection.write(chunk); ++i) {
             }
             connection.pause(5s);
         }},
        {"stalled", [](RawLoopbackServer::Connection& connection) {
             connection.write("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc");
             connection.pause(10s);
         }}};
    network_->setTimeoutInterval(1.0);
    for (const Case& sample : cases) {
        SCOPED_TRACE(sample.name);
        RawLoopbackServer server([&](RawLoopbackServer::Connection& connection, int) {
            if (connection.readRequest()) {
                sample.answer(connection);
            }
        });
        {
            std::lock_guard lock(mutex_);
            outcome_ = Outcome();
        }
        ASSERT_TRUE(get(server.address("/config")));
        const Outcome outcome = waitForOutcome();
        EXPECT_FALSE(outcome.error.ok());
        EXPECT_EQ(outcome.error.domain(), platform::kURLSessionErrorDomain);
        EXPECT_FALSE(outcome.data.has_value() && !outcome.data->empty());
    }
}

TEST_F(VDUNetworkTest, EndlessRedirectsStopAfterSixteenHops) {
    LoopbackServer server(respond);
    ASSERT_TRUE(get(server.address("/loop/0")));
    const Outcome outcome = waitForOutcome();
    ASSERT_TRUE(outcome.response.has_value());
    EXPECT_EQ(outcome.response->statusCode, 303);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 17u);
    EXPECT_EQ(requests.back().path, "/loop/16");
}

// A pending handler must not run once the client is gone.
TEST_F(VDUNetworkTest, ReleasedClientNeverCallsTheHandler) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    LoopbackServer server([&](const httplib::Request&, httplib::Response& response) {
        released.wait();
        response.set_content("ok", "text/plain");
    });
    const std::optional<std::string> id = post(server.address("/held"), "x");
    ASSERT_TRUE(id.has_value());
    ASSERT_TRUE(server.waitForRequests(1));
    network_.reset();
    release.set_value();
    // The fetcher lives until its task is done; then the map's entry lapses.
    ASSERT_TRUE(platform::runMainQueueUntil(
        [&] { return VDUNetworkURLSession::sessionFromFetcherMapForSessionID(*id) == nullptr; },
        20s));
    platform::drainMainQueue();
    queue_->sync([] {});
    std::lock_guard lock(mutex_);
    EXPECT_EQ(outcome_.calls, 0);
}

TEST_F(VDUNetworkTest, LoggingWithoutDelegateShowsDebugOnlyInDebugMode) {
    VDULoggerSetLevel(VDULoggerLevelDebug);
    log_.take();
    testing::internal::CaptureStderr();
    network_->VDUNetwork_logWithLevel(7, 900000, std::string("hidden"));
    network_->VDUNetwork_logWithLevel(3, 901017, std::string("bad"),
                                      std::vector<sdk::Value>{sdk::Value(7), sdk::Value()});
    network_->VDUNetwork_logWithLevel(4, 901011, std::string(""), sdk::Value("id"));
    network_->VDUNetwork_logWithLevel(6, 901019, std::nullopt);
    network_->setIsDebugModeEnabled(true);
    network_->VDUNetwork_logWithLevel(7, 900001, std::string("shown"), sdk::Value());
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed,
              "<Vovidu/Utilities/Network/ERROR> bad: 7, (nil)\n"
              "<Vovidu/Utilities/Network/WARNING> (Message was empty): id\n"
              "<Vovidu/Utilities/Network/INFO> (Message was nil)\n"
              "<Vovidu/Utilities/Network/DEBUG> shown\n");
    const auto lines = log_.take();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("[VDUNetwork][I-NET901017] <Vovidu/Utilities/Network/ERROR> bad"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[2].find("[I-NET901019]"), std::string::npos);
    EXPECT_NE(lines[3].find("[I-NET900001]"), std::string::npos);
}

TEST_F(VDUNetworkTest, LoggerDelegateReceivesTheLinesAndNullIsRefused) {
    network_->setLoggerDelegate(logger_);
    log_.take();
    network_->setLoggerDelegate(nullptr);
    const auto lines = log_.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[I-NET900002] Cannot set the network logger delegate"),
              std::string::npos);
    EXPECT_EQ(network_->loggerDelegate().lock(), logger_);
    LoopbackServer server(respond);
    ASSERT_TRUE(get(server.address("/x")));
    waitForOutcome();
    EXPECT_EQ(logger_->countOf(900001), 1u);
}

// An HTTPS server on 127.0.0.1 with a key and certificate made for the test.
class HTTPSServer {
  public:
    explicit HTTPSServer(const TempDir& dir)
        : certificate_(dir / "cert.pem"), key_(dir / "key.pem") {
        const std::string command =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
            "-addext subjectAltName=IP:127.0.0.1 -keyout '" +
            key_.string() + "' -out '" + certificate_.string() + "' 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("openssl could not make a certificate");
        }
        server_ = std::make_unique<httplib::SSLServer>(certificate_.c_str(), key_.c_str());
        server_->Get(".*", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("secure", "text/plain");
        });
        server_->set_keep_alive_max_count(1);  // no idle connection holds up stop()
        port_ = server_->bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        while (!server_->is_running()) {
            std::this_thread::sleep_for(1ms);
        }
    }
    ~HTTPSServer() {
        server_->stop();
        thread_.join();
    }
    std::string address() const { return "https://127.0.0.1:" + std::to_string(port_) + "/"; }
    const fs::path& certificate() const { return certificate_; }

  private:
    fs::path certificate_;
    fs::path key_;
    std::unique_ptr<httplib::SSLServer> server_;
    int port_ = 0;
    std::thread thread_;
};

TEST_F(VDUNetworkTest, HTTPSServerMustBeTrusted) {
    HTTPSServer server(data_);
    network_->setLoggerDelegate(logger_);
    ASSERT_TRUE(get(server.address()));
    Outcome outcome = waitForOutcome();
    EXPECT_FALSE(outcome.response.has_value());
    EXPECT_EQ(outcome.error.domain(), platform::kURLSessionErrorDomain);
    const std::vector<std::int64_t> codes = logger_->seen();
    const auto position = [&](std::int64_t code) {
        return std::find(codes.begin(), codes.end(), code) - codes.begin();
    };
    EXPECT_LT(position(901006), position(901008));
    EXPECT_LT(position(901008), position(901007));
    EXPECT_LT(position(901007), static_cast<long>(codes.size()));

    outcome_ = {};
    platform::TEST_setExtraCertificateAuthorities(server.certificate());
    ASSERT_TRUE(get(server.address()));
    outcome = waitForOutcome();
    platform::TEST_setExtraCertificateAuthorities({});
    EXPECT_TRUE(outcome.error.ok()) << outcome.error.ToString();
    ASSERT_TRUE(outcome.response.has_value());
    EXPECT_EQ(outcome.response->statusCode, 200);
    EXPECT_EQ(outcome.data, bytes("secure"));
}

// The background-upload folder of the current XDG_DATA_HOME.
class VDUNetworkBackgroundTest : public VDUNetworkTest {
  protected:
    fs::path folder() const { return data_.path() / "VDU/Network/VDUNetworkTemporaryDirectory"; }
    std::vector<fs::path> bodyFiles() const {
        std::vector<fs::path> files;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder(), error)) {
            if (entry.path().filename().string().starts_with("VDUUpload_temp_")) {
                files.push_back(entry.path());
            }
        }
        return files;
    }
    void makeAged(const std::string& name, std::chrono::minutes age) {
        fs::create_directories(folder());
        std::ofstream(folder() / name) << "old body";
        fs::last_write_time(folder() / name, fs::file_time_type::clock::now() - age);
    }
};

TEST_F(VDUNetworkBackgroundTest, BodyFileLivesWhileTheUploadRuns) {
    network_->setLoggerDelegate(logger_);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    LoopbackServer server([&](const httplib::Request&, httplib::Response& response) {
        released.wait();
        response.set_content("ok", "text/plain");
    });
    const std::optional<std::string> id = post(server.address("/bg"), "background body", {}, true);
    ASSERT_TRUE(id.has_value());
    ASSERT_TRUE(server.waitForRequests(1));
    const std::vector<fs::path> during = bodyFiles();
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0].filename().string(), "VDUUpload_temp_" + *id);
    std::ifstream in(during[0], std::ios::binary);
    const std::string stored((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(vdu_dataByInflatingGzippedData(bytes(stored), nullptr), bytes("background body"));
    // Excluded from backups, where the file system keeps user attributes at all.
    char flag[16] = {};
    const ssize_t size = getxattr(during[0].c_str(), "user.xdg.robots.backup", flag, sizeof flag);
    if (size >= 0) {
        EXPECT_EQ(std::string(flag, static_cast<std::size_t>(size)), "false");
    } else {
        EXPECT_EQ(errno, ENOTSUP);
    }
    // The waiting body is its owner's alone.
    struct stat info {};
    ASSERT_EQ(::stat(during[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    release.set_value();
    EXPECT_TRUE(waitForOutcome().error.ok());
    EXPECT_TRUE(bodyFiles().empty());
    EXPECT_EQ(server.requests().at(0).body, "background body");
    EXPECT_EQ(logger_->countOf(901000), 0u);
}

TEST_F(VDUNetworkBackgroundTest, UnwritableFolderSendsFromMemory) {
    fs::create_directories(folder().parent_path());
    if (geteuid() == 0) {
        // Root writes through permissions; /proc refuses new files to everyone.
        fs::create_directory_symlink("/proc/self/fdinfo", folder());
    } else {
        fs::create_directory(folder());
        fs::permissions(folder(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    network_->setLoggerDelegate(logger_);
    LoopbackServer server(respond);
    ASSERT_TRUE(post(server.address("/bg"), "from memory", {}, true));
    EXPECT_TRUE(waitForOutcome().error.ok());
    EXPECT_EQ(server.requests().at(0).body, "from memory");
    // Refused when the body is written, or earlier when the folder cannot be made private.
    EXPECT_EQ(logger_->countOf(901000) + logger_->countOf(901014), 1u);
    if (geteuid() != 0) {
        fs::permissions(folder(), fs::perms::owner_all);
    }
}

TEST_F(VDUNetworkBackgroundTest, OldBodyFilesAreRemovedAtPostAndAtCompletion) {
    makeAged("VDUUpload_temp_stale", 120min);
    makeAged("VDUUpload_temp_recent", 10min);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    LoopbackServer server([&](const httplib::Request&, httplib::Response& response) {
        released.wait();
        response.set_content("ok", "text/plain");
    });
    ASSERT_TRUE(post(server.address("/x"), "x"));
    EXPECT_FALSE(fs::exists(folder() / "VDUUpload_temp_stale"));
    EXPECT_TRUE(fs::exists(folder() / "VDUUpload_temp_recent"));
    ASSERT_TRUE(server.waitForRequests(1));
    makeAged("VDUUpload_temp_stale2", 120min);
    release.set_value();
    EXPECT_TRUE(waitForOutcome().error.ok());
    EXPECT_FALSE(fs::exists(folder() / "VDUUpload_temp_stale2"));
    EXPECT_TRUE(fs::exists(folder() / "VDUUpload_temp_recent"));
}

TEST_F(VDUNetworkBackgroundTest, SecondSystemHandlerReplacesTheFirstWithAWarning) {
    const std::string id = "com.vdu.network.background-upload-TEST";
    std::shared_ptr<VDUNetworkURLSession> fetcher = VDUNetworkURLSession::create(logger_);
    fetcher->setSessionID(id);
    int first = 0;
    int second = 0;
    fetcher->addSystemCompletionHandler([&] { ++first; }, id);
    fetcher->addSystemCompletionHandler([&] { ++second; }, id);
    EXPECT_EQ(logger_->countOf(901011), 1u);
    fetcher->addSystemCompletionHandler(nullptr, id);
    fetcher->addSystemCompletionHandler([] {}, "");
    EXPECT_EQ(logger_->countOf(901009), 1u);
    EXPECT_EQ(logger_->countOf(901010), 1u);
    fetcher->callSystemCompletionHandler(id);
    platform::drainMainQueue();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
    fetcher->callSystemCompletionHandler(id);  // already taken
    platform::drainMainQueue();
    EXPECT_EQ(second, 1);

    EXPECT_EQ(VDUNetworkURLSession::fetcherWithSessionIdentifier("other.session"), nullptr);
    EXPECT_NE(VDUNetworkURLSession::fetcherWithSessionIdentifier(id + "-2"), nullptr);

    // Events of a background session store its handler (never run here); others are ignored.
    int system = 0;
    VDUNetwork::handleEventsForBackgroundURLSessionID("other.session", [&] { ++system; });
    VDUNetwork::handleEventsForBackgroundURLSessionID(id + "-3", [&] { ++system; });
    VDUNetwork::handleEventsForBackgroundURLSessionID(id + "-3", [&] { ++system; });
    fetcher->callSystemCompletionHandler("other.session");
    fetcher->callSystemCompletionHandler(id + "-3");
    platform::drainMainQueue();
    EXPECT_EQ(system, 1);
}

}  // namespace
