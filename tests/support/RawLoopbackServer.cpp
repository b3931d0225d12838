#include "tests/support/RawLoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace cb::testsupport {

namespace {

constexpr int kPollMilliseconds = 20;

bool stopped(const std::atomic<bool>* flag) {
    return flag->load();
}

}  // namespace

std::optional<std::string> RawLoopbackServer::Connection::readRequest() {
    auto complete = [&]() -> std::optional<std::size_t> {
        const std::size_t end = pending_.find("\r\n\r\n");
        if (end == std::string::npos) {
            return std::nullopt;
        }
        std::size_t length = 0;
        std::string head = pending_.substr(0, end);
        for (char& c : head) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (const std::size_t at = head.find("\r\ncontent-length:"); at != std::string::npos) {
            length = std::stoul(head.substr(at + 17));
        }
        if (pending_.size() < end + 4 + length) {
            return std::nullopt;
        }
        return end + 4 + length;
    };
    for (;;) {
        if (std::optional<std::size_t> size = complete()) {
            std::string request = pending_.substr(0, *size);
            pending_.erase(0, *size);
            return request;
        }
        if (stopped(stopping_)) {
            return std::nullopt;
        }
        pollfd waiting{fd_, POLLIN, 0};
        if (::poll(&waiting, 1, kPollMilliseconds) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

bool RawLoopbackServer::Connection::write(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t wrote = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool RawLoopbackServer::Connection::pause(std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < until) {
        if (stopped(stopping_)) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
    }
    return !stopped(stopping_);
}

RawLoopbackServer::RawLoopbackServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (listener_ >= 0) {
            ::close(listener_);
        }
        throw std::runtime_error("raw loopback server: no port could be bound");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

RawLoopbackServer::~RawLoopbackServer() {
    stopping_.store(true);
    acceptor_.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(mutex_);
        connections.swap(connections_);
    }
    for (std::thread& connection : connections) {
        connection.join();
    }
    ::close(listener_);
}

std::string RawLoopbackServer::address(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RawLoopbackServer::acceptLoop() {
    int accepted = 0;
    while (!stopped(&stopping_)) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, kPollMilliseconds) <= 0) {
            continue;
        }
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        const int number = accepted++;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, fd, number] {
            Connection connection(fd, &stopping_);
            handler_(connection, number);
            ::close(fd);
        });
    }
}

}  // namespace cb::testsupport
