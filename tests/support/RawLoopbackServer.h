#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace cb::testsupport {

// A TCP server on 127.0.0.1 that hands each accepted connection to a handler on a thread of its
// own, for answers an HTTP library will not give: a body cut short, a body that never ends or
// stalls, a kept-alive connection closed after a request was read. Stops and joins every
// thread when destroyed.
class RawLoopbackServer {
  public:
    // One accepted connection, as the handler sees it.
    class Connection {
      public:
        Connection(int fd, const std::atomic<bool>* stopping) : fd_(fd), stopping_(stopping) {}
        // The next request's head and body (by its Content-Length); no value when the peer
        // closed or the server is stopping.
        std::optional<std::string> readRequest();
        // Writes `bytes`; returns false when the peer is gone.
        bool write(const std::string& bytes);
        // Sleeps for `time` unless the server stops first; returns false when it stopped.
        bool pause(std::chrono::milliseconds time);

      private:
        int fd_;
        const std::atomic<bool>* stopping_;
        std::string pending_;
    };
    // `connection` is the connection's number, from 0 in the order of acceptance. The
    // connection is closed when the handler returns.
    using Handler = std::function<void(Connection& connection, int number)>;

    explicit RawLoopbackServer(Handler handler);
    ~RawLoopbackServer();
    RawLoopbackServer(const RawLoopbackServer&) = delete;
    RawLoopbackServer& operator=(const RawLoopbackServer&) = delete;

    // "http://127.0.0.1:<port>" followed by `path`.
    std::string address(const std::string& path = "/") const;

  private:
    void acceptLoop();

    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::thread> connections_;  // guarded by mutex_
    std::thread acceptor_;
};

}  // namespace cb::testsupport
