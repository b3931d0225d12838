#pragma once

#include <curl/curl.h>

#include <functional>
#include <memory>

namespace platform::urlsession_detail {

// One libcurl transfer that the engine drives. Created and configured by its owner, then handed
// to the engine, which adds it to its multi handle.
class EngineTransfer {
  public:
    virtual ~EngineTransfer() = default;
    // The configured easy handle; stays valid while the engine holds the transfer.
    virtual CURL* easy() = 0;
    // Called once on the engine thread with libcurl's result when the transfer has ended, or
    // with CURLE_ABORTED_BY_CALLBACK when it could not be added.
    virtual void finished(CURLcode result) = 0;
};

// The one thread and the one libcurl multi handle behind every URLTaskSession.
//
// Design notes:
// 1. start() and post() only queue work and wake the thread; the thread adds queued transfers,
//    then runs posted commands (which so see every transfer started before them), drives the
//    multi handle and calls finished() on each transfer that
//    ends, after removing it from the multi handle.
// 2. Easy handles, share handles and transfer state are touched on the engine thread only,
//    once handed over.
// 3. The engine lives until the process exits; transfers still running then are dropped
//    without a call.
//
// Thread-safety: start() and post() may be called from any thread, also from the engine
// thread itself.
class TransferEngine {
  public:
    static TransferEngine& instance();

    void start(std::shared_ptr<EngineTransfer> transfer);
    void post(std::function<void()> command);

    // True on the engine thread (in finished() calls and posted commands).
    bool isEngineThread() const;

    // Removes every running or queued transfer for which `match` is true from the engine and
    // calls its finished(CURLE_ABORTED_BY_CALLBACK). REQUIRES: on the engine thread.
    void abandonWhere(const std::function<bool(EngineTransfer&)>& match);

    ~TransferEngine();
    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

  private:
    TransferEngine();
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform::urlsession_detail
