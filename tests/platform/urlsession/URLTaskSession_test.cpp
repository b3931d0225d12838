#include "platform/urlsession/URLTaskSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainQueue.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"

namespace platform {
namespace {

using cb::testsupport::LoopbackServer;
using namespace std::chrono_literals;

// Records every delegate call as a line, checking each arrives on the main queue.
class Recorder : public URLSessionDelegate {
  public:
    enum class Redirects { kFollow, kRefuse, kFollowLater };
    explicit Recorder(Redirects redirects = Redirects::kFollow) : redirects_(redirects) {}

    void didReceiveData(URLTaskSession&, URLSessionTask&, const std::string& data) override {
        add("data " + data);
    }
    void didFinishDownloading(URLTaskSession&, URLSessionTask&,
                              const std::filesystem::path& location) override {
        std::ifstream in(location);
        add("file " + std::string(std::istreambuf_iterator<char>(in), {}));
        std::lock_guard lock(mutex_);
        downloaded_ = location;
    }
    void willPerformHTTPRedirection(
        URLTaskSession&, URLSessionTask&, const HTTPURLResponse& response, URLRequest proposed,
        std::function<void(std::optional<URLRequest>)> completion) override {
        add("redirect " + std::to_string(response.statusCode) + " " + proposed.method + " " +
            proposed.url.substr(proposed.url.rfind('/')));
        if (redirects_ == Redirects::kRefuse) {
            completion(std::nullopt);
        } else if (redirects_ == Redirects::kFollow) {
            completion(std::move(proposed));
        } else {
            std::thread([completion, proposed] { completion(proposed); }).detach();
        }
    }
    void didComplete(URLTaskSession&, URLSessionTask& task,
                     const std::optional<URLSessionError>& error) override {
        const auto response = task.response();
        add("complete " + (error ? "error " + std::to_string(error->code)
                                 : std::to_string(response ? response->statusCode : 0)));
    }
    void didBecomeInvalid(URLTaskSession&) override { add("invalid"); }

    // Drains the main queue until `count` calls have arrived; returns the lines.
    std::vector<std::string> waitFor(std::size_t count) {
        runMainQueueUntil(
            [&] {
                std::lock_guard lock(mutex_);
                return lines_.size() >= count;
            },
            20s);
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool onMainQueueOnly() const {
        std::lock_guard lock(mutex_);
        return offQueue_ == 0;
    }
    std::filesystem::path downloaded() const {
        std::lock_guard lock(mutex_);
        return downloaded_;
    }

  private:
    void add(std::string line) {
        std::lock_guard lock(mutex_);
        offQueue_ += DispatchQueue::main()->isCurrent() ? 0 : 1;
        lines_.push_back(std::move(line));
    }

    const Redirects redirects_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;    // guarded by mutex_
    int offQueue_ = 0;                  // guarded by mutex_
    std::filesystem::path downloaded_;  // guarded by mutex_
};

// "/set" sets a cookie, "/cookie" echoes the Cookie header, "/to/<n>?<path>" answers status n
// with that Location, "/echo" echoes method, body and the X-Header fields; anything else "ok".
void respond(const httplib::Request& request, httplib::Response& response) {
    if (request.path == "/set") {
        response.set_header("Set-Cookie", "visit=1; Path=/");
        response.set_content("set", "text/plain");
    } else if (request.path == "/cookie") {
        response.set_content("cookie=" + request.get_header_value("Cookie"), "text/plain");
    } else if (request.path.starts_with("/to/")) {
        response.status = std::stoi(request.path.substr(4));
        response.set_header("Location", request.target.substr(request.target.find('?') + 1));
    } else if (request.path == "/echo") {
        response.set_content(request.method + " " + request.body + " " +
                                 request.get_header_value("X-Session") + " " +
                                 request.get_header_value("X-Both"),
                             "text/plain");
    } else {
        response.set_content("ok", "text/plain");
    }
}

URLRequest request(const LoopbackServer& server, const std::string& path,
                   std::string method = "GET") {
    URLRequest made;
    made.url = server.address(path);
    made.method = std::move(method);
    return made;
}

class URLTaskSessionTest : public ::testing::Test {
  protected:
    std::shared_ptr<URLTaskSession> session(
        URLSessionConfiguration configuration = URLSessionConfiguration::defaultConfiguration()) {
        return URLTaskSession::create(std::move(configuration), recorder_);
    }

    LoopbackServer server_{respond};
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
};

TEST_F(URLTaskSessionTest, DataAndUploadTasksDeliverTheBodyThenComplete) {
    URLSessionConfiguration configuration = URLSessionConfiguration::defaultConfiguration();
    configuration.additionalHeaders = {
        {"X-Session", "s"}, {"X-Both", "session"}, {"Content-Length", "999"}};
    auto tasks = session(configuration);
    URLRequest post = request(server_, "/echo", "POST");
    post.headers = {{"X-Both", "request"}};
    std::shared_ptr<URLSessionTask> upload = tasks->uploadTask(post, std::string("body"));
    EXPECT_EQ(upload->state(), URLSessionTask::State::kSuspended);
    upload->resume();
    EXPECT_EQ(recorder_->waitFor(2),
              (std::vector<std::string>{"data POST body s request", "complete 200"}));
    EXPECT_EQ(upload->state(), URLSessionTask::State::kCompleted);
    EXPECT_EQ(headerValue(upload->response()->headers, "content-type"), "text/plain");
    EXPECT_TRUE(recorder_->onMainQueueOnly());
}

TEST_F(URLTaskSessionTest, UploadStreamsAFileAndFailsWithoutOne) {
    cb::testsupport::TempDir dir;
    std::ofstream(dir / "body") << "from file";
    auto tasks = session();
    tasks->uploadTask(request(server_, "/echo", "POST"), dir / "body")->resume();
    EXPECT_EQ(recorder_->waitFor(2)[0], "data POST from file  ");
    tasks->uploadTask(request(server_, "/echo", "POST"), dir / "missing")->resume();
    EXPECT_EQ(recorder_->waitFor(3)[2].rfind("complete error", 0), 0u);
    EXPECT_EQ(server_.requests().size(), 1u);
}

TEST_F(URLTaskSessionTest, DownloadHandsOverAFileThatIsRemovedAfterwards) {
    session()->downloadTask(request(server_, "/plain"))->resume();
    EXPECT_EQ(recorder_->waitFor(2), (std::vector<std::string>{"file ok", "complete 200"}));
    EXPECT_FALSE(recorder_->downloaded().empty());
    EXPECT_FALSE(std::filesystem::exists(recorder_->downloaded()));
}

TEST_F(URLTaskSessionTest, CookiesLastForADefaultSessionButNotAnEphemeralOne) {
    for (const bool ephemeral : {false, true}) {
        SCOPED_TRACE(ephemeral);
        recorder_ = std::make_shared<Recorder>();
        auto tasks = session(ephemeral ? URLSessionConfiguration::ephemeralConfiguration()
                                       : URLSessionConfiguration::defaultConfiguration());
        tasks->dataTask(request(server_, "/set"))->resume();
        recorder_->waitFor(2);
        tasks->dataTask(request(server_, "/cookie"))->resume();
        EXPECT_EQ(recorder_->waitFor(4)[2], ephemeral ? "data cookie=" : "data cookie=visit=1");
    }
}

TEST_F(URLTaskSessionTest, DelegateDecidesRedirects) {
    recorder_ = std::make_shared<Recorder>(Recorder::Redirects::kFollowLater);
    session()->uploadTask(request(server_, "/to/303?/echo", "POST"), std::string("x"))->resume();
    EXPECT_EQ(recorder_->waitFor(3),
              (std::vector<std::string>{"redirect 303 GET /echo", "data GET   ", "complete 200"}));

    recorder_ = std::make_shared<Recorder>(Recorder::Redirects::kRefuse);
    session()->uploadTask(request(server_, "/to/307?/echo", "POST"), std::string("x"))->resume();
    EXPECT_EQ(recorder_->waitFor(2),
              (std::vector<std::string>{"redirect 307 POST /echo", "complete 307"}));
}

TEST_F(URLTaskSessionTest, InvalidationWaitsForRunningTasksThenReleasesTheDelegate) {
    auto tasks = session();
    std::weak_ptr<Recorder> delegate = recorder_;
    tasks->dataTask(request(server_, "/plain"))->resume();
    tasks->finishTasksAndInvalidate();
    EXPECT_EQ(tasks->dataTask(request(server_, "/plain")), nullptr);
    const auto lines = recorder_->waitFor(3);
    EXPECT_EQ(lines, (std::vector<std::string>{"data ok", "complete 200", "invalid"}));
    recorder_.reset();
    EXPECT_TRUE(delegate.expired());
}

TEST_F(URLTaskSessionTest, OversizedBodyIsATransportError) {
    URLRequest small = request(server_, "/echo", "POST");
    small.maxResponseBytes = 4;
    session()->uploadTask(small, std::string("a longer body"))->resume();
    const auto lines = recorder_->waitFor(1);
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("complete error", 0), 0u) << lines[0];
}

}  // namespace
}  // namespace platform
