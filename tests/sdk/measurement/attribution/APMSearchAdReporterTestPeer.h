#pragma once

#include <functional>
#include <mutex>
#include <utility>

#include "sdk/measurement/attribution/APMSearchAdReporter.h"

// What tests reach of APMSearchAdReporter beyond its public interface.
class APMSearchAdReporterTestPeer {
  public:
    // `observer` runs on the worker queue as each reply reaches `reporter` there, before it is
    // handled; empty removes it. Safe from any thread.
    static void setReplyObserver(APMSearchAdReporter& reporter, std::function<void()> observer) {
        std::lock_guard lock(reporter.mutex_);
        reporter.replyObserver_ = std::move(observer);
    }
};
