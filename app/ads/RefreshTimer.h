#pragma once

#include <QTimer>
#include <functional>

namespace cb {

// The wait of the ad service's refresh loop. Tests replace it to see the intervals asked for
// and to end a wait at will.
class RefreshTimer {
  public:
    virtual ~RefreshTimer() = default;

    // Calls `fire` once, `seconds` from now, on the UI thread. A wait that has not fired yet is
    // replaced. Destroying the timer drops a pending call.
    virtual void start(double seconds, std::function<void()> fire) = 0;
};

// The real wait: a single-shot QTimer on the monotonic clock.
class QtRefreshTimer : public RefreshTimer {
  public:
    QtRefreshTimer();

    void start(double seconds, std::function<void()> fire) override;

  private:
    QTimer timer_;
    std::function<void()> fire_;
};

}  // namespace cb
