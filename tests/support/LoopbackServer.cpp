#include "tests/support/LoopbackServer.h"

#include <stdexcept>

namespace cb::testsupport {

LoopbackServer::LoopbackServer(Responder responder) : server_(std::make_unique<httplib::Server>()) {
    start(std::move(responder));
}

LoopbackServer::LoopbackServer(Responder responder, const TLSIdentity& identity) : secure_(true) {
    auto server =
        std::make_unique<httplib::SSLServer>(identity.certificate.c_str(), identity.key.c_str());
    if (!server->is_valid()) {
        throw std::runtime_error("loopback server: the TLS identity could not be loaded");
    }
    server_ = std::move(server);
    start(std::move(responder));
}

void LoopbackServer::start(Responder responder) {
    auto handler = [this, responder = std::move(responder)](const httplib::Request& request,
                                                            httplib::Response& response) {
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(
                {request.method, request.target, request.path, request.headers, request.body});
        }
        arrived_.notify_all();
        responder(request, response);
    };
    const std::string anyPath = ".*";
    server_->Get(anyPath, handler);
    server_->Post(anyPath, handler);
    server_->Put(anyPath, handler);
    server_->Patch(anyPath, handler);
    server_->Delete(anyPath, handler);
    // One request per connection: an idle kept-alive connection would hold one of the server's
    // few threads, and clients that open many connections would wait for it.
    server_->set_keep_alive_max_count(1);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("loopback server: no port could be bound");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() only reaches a server whose accept loop has begun.
    while (!server_->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

LoopbackServer::~LoopbackServer() {
    server_->stop();
    thread_.join();
}

std::string LoopbackServer::address(const std::string& path) const {
    return std::string(secure_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<ReceivedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackServer::waitForRequests(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
}

}  // namespace cb::testsupport
