#include "platform/reachability/RouteTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/TempDir.h"

namespace platform {
namespace {

constexpr const char* kIPv4Header =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
const std::string kNoRoute6 = std::string(32, '0');

void write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text;
}

TEST(RouteTableTest, FindsOnlyUsableDefaultRoutes) {
    struct Case {
        const char* name;
        std::string ipv4;
        std::string ipv6;
        bool expected;
    };
    const std::string subnet = "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
    const Case cases[] = {
        {"ipv4 default", subnet + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n",
         "", true},
        {"subnet only", subnet, "", false},
        {"default down", "eth0\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n", "",
         false},
        {"default on lo", "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n", "", false},
        {"ipv6 default", "",
         kNoRoute6 + " 00 " + kNoRoute6 +
             " 00 fe800000000000000000000000000001 00000400 00000001 "
             "00000000 00000003 wlan0\n",
         true},
        {"ipv6 unreachable on lo", "",
         kNoRoute6 + " 00 " + kNoRoute6 + " 00 " + kNoRoute6 +
             " ffffffff 00000001 00000000 00200200 lo\n",
         false},
        {"garbage", "eth0 zz\n\n\t\t", "not a route\n", false},
    };
    cb::testsupport::TempDir dir;
    for (const Case& c : cases) {
        write(dir / "route", kIPv4Header + c.ipv4);
        write(dir / "ipv6_route", c.ipv6);
        EXPECT_EQ(hasDefaultRoute(dir / "route", dir / "ipv6_route"), c.expected) << c.name;
    }
    EXPECT_FALSE(hasDefaultRoute(dir / "missing", dir / "missing6"));
}

TEST(RouteTableTest, LoopbackHostsNeedNoLookup) {
    for (const char* host : {"localhost", "127.0.0.1", "127.255.3.4", "::1"}) {
        EXPECT_TRUE(isLoopbackHost(host)) << host;
    }
    for (const char* host : {"128.0.0.1", "localhost.example", "", "10.0.0.1", "::2"}) {
        EXPECT_FALSE(isLoopbackHost(host)) << host;
    }
}

}  // namespace
}  // namespace platform
