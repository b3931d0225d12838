#include "app/ads/RefreshTimer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace cb {

QtRefreshTimer::QtRefreshTimer() {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        std::function<void()> fire = std::move(fire_);
        fire_ = nullptr;
        if (fire) {
            fire();
        }
    });
}

void QtRefreshTimer::start(double seconds, std::function<void()> fire) {
    // QTimer counts in int milliseconds; the ad service never asks for more than an hour.
    constexpr double kMaxMilliseconds = std::numeric_limits<int>::max();
    const double milliseconds = std::isnan(seconds) ? 0 : std::round(seconds * 1000);
    fire_ = std::move(fire);
    timer_.start(std::chrono::milliseconds(
        static_cast<int>(std::clamp(milliseconds, 0.0, kMaxMilliseconds))));
}

}  // namespace cb
