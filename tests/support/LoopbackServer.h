#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cb::testsupport {

// One request as the server received it.
struct ReceivedRequest {
    std::string method;
    std::string target;  // path and query exactly as sent, percent-encoding kept
    std::string path;    // the decoded path
    httplib::Headers headers;
    std::string body;
};

// The certificate (PEM, with its chain) and key an HTTPS loopback server presents.
struct TLSIdentity {
    std::filesystem::path certificate;
    std::filesystem::path key;
};

// An HTTP server on 127.0.0.1 with a port the system picks, serving on its own threads until it
// is destroyed. Every request is recorded, then answered by the responder (which may block, for
// example to hold a request until the test releases it).
class LoopbackServer {
  public:
    using Responder = std::function<void(const httplib::Request&, httplib::Response&)>;

    // Binds and starts serving; throws std::runtime_error when no port can be bound.
    explicit LoopbackServer(Responder responder);
    // The same over HTTPS with `identity`; throws std::runtime_error when it cannot be loaded.
    LoopbackServer(Responder responder, const TLSIdentity& identity);
    ~LoopbackServer();

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }

    // "http://127.0.0.1:<port>" (https for a TLS server) followed by `path`.
    std::string address(const std::string& path = "") const;

    // Every request received so far, in arrival order.
    std::vector<ReceivedRequest> requests() const;

    // Waits until at least `count` requests have arrived, for at most `limit`. Returns whether
    // they did.
    bool waitForRequests(std::size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

  private:
    void start(Responder responder);

    std::unique_ptr<httplib::Server> server_;
    bool secure_ = false;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<ReceivedRequest> requests_;  // guarded by mutex_
};

}  // namespace cb::testsupport
