#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sdk/installations/DUDUrareravuzersAPIService.h"
#include "sdk/installations/DUDUrareravuzersBackoffController.h"
#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/utilities/VDUNotificationCenter.h"
#include "tests/support/LoopbackServer.h"

namespace installationstest {

// The installations service on loopback: registers (keeping the FID it was sent), generates
// tokens and deletes, each answering with the status the test set. Tokens it hands out last a
// week. Installs itself as the client's base address while it lives.
class FakeInstallationsService {
  public:
    enum class Kind { registration, generateToken, deletion, other };

    FakeInstallationsService()
        : server_([this](const httplib::Request& request, httplib::Response& response) {
              answer(request, response);
          }) {
        DUDUrareravuzersAPIService::TEST_setBaseURL(server_.address());
    }
    ~FakeInstallationsService() { DUDUrareravuzersAPIService::TEST_setBaseURL(std::nullopt); }

    void setStatus(Kind kind, int status) {
        std::lock_guard lock(mutex_);
        statuses_[static_cast<std::size_t>(kind)] = status;
    }

    // The "expiresIn" of every auth token answered from now on.
    void setExpiresIn(std::string expiresIn) {
        std::lock_guard lock(mutex_);
        expiresIn_ = std::move(expiresIn);
    }
    static Kind kindOf(const std::string& method, const std::string& path) {
        if (method == "DELETE") {
            return Kind::deletion;
        }
        if (method == "POST" && path.ends_with("/authTokens:generate")) {
            return Kind::generateToken;
        }
        if (method == "POST" && path.ends_with("/installations/")) {
            return Kind::registration;
        }
        return Kind::other;
    }

    // The requests of `kind` received so far.
    std::vector<cb::testsupport::ReceivedRequest> requests(Kind kind) const {
        std::vector<cb::testsupport::ReceivedRequest> found;
        for (const auto& request : server_.requests()) {
            if (kindOf(request.method, request.path) == kind) {
                found.push_back(request);
            }
        }
        return found;
    }
    std::size_t count(Kind kind) const { return requests(kind).size(); }
    std::size_t total() const { return server_.requests().size(); }

    cb::testsupport::LoopbackServer& server() { return server_; }

  private:
    void answer(const httplib::Request& request, httplib::Response& response) {
        const Kind kind = kindOf(request.method, request.path);
        int status = 200;
        std::string expiresIn;
        {
            std::lock_guard lock(mutex_);
            status = statuses_[static_cast<std::size_t>(kind)];
            expiresIn = expiresIn_;
        }
        const int serial = ++serial_;
        nlohmann::json body = nlohmann::json::object();
        if (status == 200 && kind == Kind::registration) {
            const nlohmann::json sent = nlohmann::json::parse(request.body, nullptr, false);
            const std::string fid = sent.is_object() ? sent.value("fid", "") : "";
            body = {{"name", "projects/p/installations/" + fid},
                    {"fid", fid},
                    {"refreshToken", "refresh-" + std::to_string(serial)},
                    {"authToken",
                     {{"token", "token-" + std::to_string(serial)}, {"expiresIn", expiresIn}}}};
        } else if (status == 200 && kind == Kind::generateToken) {
            body = {{"token", "token-" + std::to_string(serial)}, {"expiresIn", expiresIn}};
        } else if (status != 200) {
            body = {{"error", {{"code", status}}}};
        }
        response.status = status;
        response.set_content(body.dump(), "application/json");
    }

    mutable std::mutex mutex_;
    int statuses_[4] = {200, 200, 200, 404};  // guarded by mutex_
    std::string expiresIn_ = "604800s";       // guarded by mutex_
    std::atomic<int> serial_{0};
    cb::testsupport::LoopbackServer server_;
};

// A clock the test sets: the backoff and the token checks read it.
class TestClock {
  public:
    TestClock() : now_(std::make_shared<Now>()) {}

    DUDUrareravuzersBackoffController::DateProvider provider() const {
        return [now = now_] {
            std::lock_guard lock(now->mutex);
            return now->date;
        };
    }
    sdk::Date now() const { return provider()(); }
    void set(sdk::Date date) {
        std::lock_guard lock(now_->mutex);
        now_->date = date;
    }
    void advance(double seconds) {
        set(sdk::Date::fromTimeIntervalSince1970(now().timeIntervalSince1970() + seconds));
    }

  private:
    struct Now {
        std::mutex mutex;
        sdk::Date date = sdk::Date::now();  // guarded by mutex
    };
    std::shared_ptr<Now> now_;
};

// Records the ID-change notifications posted while it lives.
class IDChanges {
  public:
    IDChanges()
        : token_(VDUNotificationCenter::defaultCenter().addObserverForName(
              std::string(DUDUrareravuzerIDDidChangeNotification), nullptr,
              [this](const VDUNotification& notification) {
                  std::lock_guard lock(mutex_);
                  posts_.push_back(notification);
              })) {}

    std::vector<VDUNotification> posts() const {
        std::lock_guard lock(mutex_);
        return posts_;
    }
    std::size_t count() const { return posts().size(); }

  private:
    mutable std::mutex mutex_;
    std::vector<VDUNotification> posts_;  // guarded by mutex_
    VDUObserverToken token_;
};

}  // namespace installationstest
