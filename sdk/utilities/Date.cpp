#include "sdk/utilities/Date.h"

#include <chrono>

namespace sdk {

Date Date::now() {
    using Seconds = std::chrono::duration<double>;
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return Date(std::chrono::duration_cast<Seconds>(sinceEpoch).count());
}

}  // namespace sdk
