#include "app/uninstaller/AppLocations.h"

#include <cstdlib>
#include <mutex>
#include <utility>

namespace cb {

namespace {

std::mutex& locationsMutex() {
    static std::mutex mutex;
    return mutex;
}

AppLocations& locationsInForce() {
    static AppLocations locations;  // guarded by locationsMutex()
    return locations;
}

}  // namespace

AppLocations AppLocations::current() {
    std::lock_guard<std::mutex> guard(locationsMutex());
    return locationsInForce();
}

AppLocations AppLocations::TEST_setCurrent(AppLocations locations) {
    std::lock_guard<std::mutex> guard(locationsMutex());
    return std::exchange(locationsInForce(), std::move(locations));
}

std::filesystem::path homeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? std::filesystem::path(home) : std::filesystem::path();
}

}  // namespace cb
