#pragma once

#include <filesystem>
#include <string_view>

namespace platform {

// True for "localhost", an IPv4 address in 127.0.0.0/8 and "::1": hosts reached without any
// network. No name is looked up.
bool isLoopbackHost(std::string_view host);

// True when either routing table has a default route that is up and not on the loopback
// interface. `ipv4` is laid out as /proc/net/route, `ipv6` as /proc/net/ipv6_route; a file
// that cannot be read has no routes. Only the first 4096 lines of each are read.
bool hasDefaultRoute(const std::filesystem::path& ipv4, const std::filesystem::path& ipv6);

}  // namespace platform
