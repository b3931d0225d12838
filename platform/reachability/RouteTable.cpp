#include "platform/reachability/RouteTable.h"

#include <arpa/inet.h>

#include <cstddef>
#include <fstream>
#include <sstream>
#include <string>

namespace platform {

namespace {

// Route flags of the kernel's tables.
constexpr unsigned long kRouteUp = 0x1;
constexpr unsigned long kRouteReject = 0x200;
constexpr std::size_t kMaxLines = 4096;

bool parseHex(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    std::size_t used = 0;
    try {
        value = std::stoul(text, &used, 16);
    } catch (const std::exception&) {
        return false;
    }
    return used == text.size();
}

bool usable(const std::string& interface, unsigned long flags) {
    return interface != "lo" && (flags & kRouteUp) != 0 && (flags & kRouteReject) == 0;
}

// Iface Destination Gateway Flags RefCnt Use Metric Mask ..., after one header line.
bool hasIPv4Default(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);  // the header
    for (std::size_t n = 0; n < kMaxLines && std::getline(in, line); ++n) {
        std::istringstream fields(line);
        std::string interface, destination, gateway, flagsText, refs, use, metric, mask;
        if (!(fields >> interface >> destination >> gateway >> flagsText >> refs >> use >> metric >>
              mask)) {
            continue;
        }
        unsigned long flags = 0;
        if (destination == "00000000" && mask == "00000000" && parseHex(flagsText, flags) &&
            usable(interface, flags)) {
            return true;
        }
    }
    return false;
}

// Destination PrefixLength Source SourcePrefixLength NextHop Metric RefCnt Use Flags Iface.
bool hasIPv6Default(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    for (std::size_t n = 0; n < kMaxLines && std::getline(in, line); ++n) {
        std::istringstream fields(line);
        std::string destination, prefix, source, sourcePrefix, nextHop, metric, refs, use,
            flagsText, interface;
        if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >>
              refs >> use >> flagsText >> interface)) {
            continue;
        }
        unsigned long flags = 0;
        if (destination == std::string(32, '0') && prefix == "00" && parseHex(flagsText, flags) &&
            usable(interface, flags)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool isLoopbackHost(std::string_view host) {
    if (host == "localhost" || host == "::1") {
        return true;
    }
    in_addr address{};
    const std::string text(host);
    return inet_pton(AF_INET, text.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

bool hasDefaultRoute(const std::filesystem::path& ipv4, const std::filesystem::path& ipv6) {
    return hasIPv4Default(ipv4) || hasIPv6Default(ipv6);
}

}  // namespace platform
