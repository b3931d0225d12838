#include "app/views/FocusSpring.h"

#include <cmath>
#include <numbers>

namespace cb {

double focusSpringPosition(double seconds) {
    if (!(seconds > 0)) {
        return 0;
    }
    if (seconds >= kFocusSpringSeconds) {
        return 1;
    }
    constexpr double kResponse = 0.35;
    constexpr double kDamping = 0.85;
    const double omega = 2 * std::numbers::pi / kResponse;
    const double omegaD = omega * std::sqrt(1 - kDamping * kDamping);
    const double decay = std::exp(-kDamping * omega * seconds);
    return 1 - decay * (std::cos(omegaD * seconds) +
                        kDamping * omega / omegaD * std::sin(omegaD * seconds));
}

double focusSpringEasing(double progress) {
    return focusSpringPosition(progress * kFocusSpringSeconds);
}

}  // namespace cb
