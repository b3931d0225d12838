// Progress reports, the files-per-second rate, the stall watchdog and cancellation of Scanner.
#include "app/disk/Scanner.h"

namespace cb {

namespace {

constexpr auto kRateInterval = std::chrono::milliseconds(500);

}  // namespace

ScanProgress Scanner::copyLocked() const {
    return {bytesScanned_, filesScanned_, currentPath_, filesPerSecond_};
}

std::optional<ScanProgress> Scanner::reportIfDueLocked(Clock::time_point now) {
    // Written as "tick <= now - interval" so the distant-past start value cannot overflow.
    if (lastProgressTick_ > now - kReportInterval) {
        return std::nullopt;
    }
    lastProgressTick_ = now;
    reportDueAt_.store((now + kReportInterval).time_since_epoch().count(),
                       std::memory_order_relaxed);
    return copyLocked();
}

void Scanner::noteCurrentPath(std::string_view path) {
    const auto stamp = now();
    std::optional<ScanProgress> report;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        currentPath_.assign(path);
        report = reportIfDueLocked(stamp);
    }
    if (report && progressHandler_) {
        progressHandler_(*report);
    }
}

void Scanner::addCounts(int64_t bytes, int64_t files) {
    addCountsAt(bytes, files, now());
}

void Scanner::addCountsAt(int64_t bytes, int64_t files, Clock::time_point stamp) {
    std::optional<ScanProgress> report;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        bytesScanned_ += bytes;
        filesScanned_ += files;
        lastCounterBumpAt_ = stamp;
        if (lastProgressTick_ <= stamp - kReportInterval) {
            if (lastRateAt_ <= stamp - kRateInterval) {
                const std::chrono::duration<double> window = stamp - lastRateAt_;
                filesPerSecond_ =
                    static_cast<double>(filesScanned_ - lastRateFiles_) / window.count();
                lastRateFiles_ = filesScanned_;
                lastRateAt_ = stamp;
            }
            report = reportIfDueLocked(stamp);
        }
    }
    if (report && progressHandler_) {
        progressHandler_(*report);
    }
}

Scanner::Clock::time_point Scanner::latestCountLocked() const {
    auto latest = lastCounterBumpAt_;
    for (size_t i = 0; i < countStampCount_; ++i) {
        const Clock::time_point at(
            Clock::duration(countStamps_[i].at.load(std::memory_order_relaxed)));
        latest = std::max(latest, at);
    }
    return latest;
}

void Scanner::publishFinalProgress() {
    const auto stamp = now();
    ScanProgress report;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        lastProgressTick_ = stamp;
        reportDueAt_.store((stamp + kReportInterval).time_since_epoch().count(),
                           std::memory_order_relaxed);
        report = copyLocked();
    }
    if (progressHandler_) {
        progressHandler_(report);
    }
}

void Scanner::startWatchdog() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto stamp = now();
        lastCounterBumpAt_ = stamp;
        lastRateAt_ = stamp;
        lastRateFiles_ = filesScanned_;
    }
    stopWatchdog();
    {
        std::lock_guard<std::mutex> guard(watchdogMutex_);
        watchdogStop_ = false;
    }
    watchdog_ = std::thread([this] { watchdogLoop(); });
}

void Scanner::stopWatchdog() {
    if (!watchdog_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(watchdogMutex_);
        watchdogStop_ = true;
    }
    watchdogWake_.notify_all();
    watchdog_.join();
}

void Scanner::watchdogLoop() {
    std::unique_lock<std::mutex> lock(watchdogMutex_);
    for (;;) {
        if (watchdogWake_.wait_for(lock, options_.watchdogTick, [this] { return watchdogStop_; })) {
            return;
        }
        if (!checkForStall()) {
            return;
        }
    }
}

bool Scanner::checkForStall() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (isCancelled()) {
        return false;
    }
    const auto stamp = now();
    // A walker's counts reach the totals in batches; its stamp says when it last counted a file.
    if (stamp - latestCountLocked() > options_.stallThreshold) {
        skipCurrentBranch_.store(true, std::memory_order_release);
        lastCounterBumpAt_ = stamp;
    }
    return true;
}

}  // namespace cb
