#include "platform/urlsession/TransferEngine.h"

#include <cassert>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace platform::urlsession_detail {

namespace {
// Bounds how long one poll sleeps when nothing wakes it (libcurl's own timers).
constexpr int kPollMilliseconds = 1000;
}  // namespace

struct TransferEngine::State {
    std::mutex mutex;
    std::vector<std::shared_ptr<EngineTransfer>> incoming;  // guarded by mutex
    std::vector<std::function<void()>> commands;            // guarded by mutex
    bool stopping = false;                                  // guarded by mutex

    CURLM* multi = nullptr;
    std::map<CURL*, std::shared_ptr<EngineTransfer>> active;  // engine thread only
    std::thread thread;

    void run();
    void add(std::shared_ptr<EngineTransfer> transfer);
    void collectFinished();
};

void TransferEngine::State::run() {
    for (;;) {
        std::vector<std::shared_ptr<EngineTransfer>> added;
        std::vector<std::function<void()>> posted;
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                return;
            }
            added.swap(incoming);
            posted.swap(commands);
        }
        for (std::shared_ptr<EngineTransfer>& transfer : added) {
            add(std::move(transfer));
        }
        for (std::function<void()>& command : posted) {
            command();
        }
        int running = 0;
        curl_multi_perform(multi, &running);
        collectFinished();
        curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
    }
}

void TransferEngine::State::add(std::shared_ptr<EngineTransfer> transfer) {
    CURL* easy = transfer->easy();
    if (easy == nullptr || curl_multi_add_handle(multi, easy) != CURLM_OK) {
        transfer->finished(CURLE_ABORTED_BY_CALLBACK);
        return;
    }
    active.emplace(easy, std::move(transfer));
}

void TransferEngine::State::collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        curl_multi_remove_handle(multi, easy);
        auto found = active.find(easy);
        assert(found != active.end());
        std::shared_ptr<EngineTransfer> transfer = std::move(found->second);
        active.erase(found);
        transfer->finished(result);
    }
}

TransferEngine::TransferEngine() : state_(std::make_unique<State>()) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    state_->multi = curl_multi_init();
    assert(state_->multi != nullptr);
    state_->thread = std::thread([state = state_.get()] { state->run(); });
}

TransferEngine::~TransferEngine() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    curl_multi_wakeup(state_->multi);
    state_->thread.join();
    for (auto& [easy, transfer] : state_->active) {
        curl_multi_remove_handle(state_->multi, easy);
    }
    state_->active.clear();
    curl_multi_cleanup(state_->multi);
}

TransferEngine& TransferEngine::instance() {
    static TransferEngine engine;
    return engine;
}

void TransferEngine::start(std::shared_ptr<EngineTransfer> transfer) {
    {
        std::lock_guard lock(state_->mutex);
        state_->incoming.push_back(std::move(transfer));
    }
    curl_multi_wakeup(state_->multi);
}

void TransferEngine::post(std::function<void()> command) {
    {
        std::lock_guard lock(state_->mutex);
        state_->commands.push_back(std::move(command));
    }
    curl_multi_wakeup(state_->multi);
}

}  // namespace platform::urlsession_detail

namespace platform::urlsession_detail {

bool TransferEngine::isEngineThread() const {
    return std::this_thread::get_id() == state_->thread.get_id();
}

void TransferEngine::abandonWhere(const std::function<bool(EngineTransfer&)>& match) {
    assert(isEngineThread());
    std::vector<std::shared_ptr<EngineTransfer>> removed;
    for (auto it = state_->active.begin(); it != state_->active.end();) {
        if (match(*it->second)) {
            curl_multi_remove_handle(state_->multi, it->first);
            removed.push_back(std::move(it->second));
            it = state_->active.erase(it);
        } else {
            ++it;
        }
    }
    {
        std::lock_guard lock(state_->mutex);
        std::erase_if(state_->incoming, [&](std::shared_ptr<EngineTransfer>& transfer) {
            if (!match(*transfer)) {
                return false;
            }
            removed.push_back(std::move(transfer));
            return true;
        });
    }
    for (std::shared_ptr<EngineTransfer>& transfer : removed) {
        transfer->finished(CURLE_ABORTED_BY_CALLBACK);
    }
}

}  // namespace platform::urlsession_detail
