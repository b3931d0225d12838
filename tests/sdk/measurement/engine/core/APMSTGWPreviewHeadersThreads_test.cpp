// The server-side tagging preview switch from many threads at once: links switching it while
// uploads read the headers (run under ThreadSanitizer in CI).
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sdk/measurement/engine/core/APMMeasurement.h"

namespace {

TEST(STGWPreviewHeadersThreads, SwitchingAndReadingFromEightThreads) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 200;
    std::set<std::string> keys;
    for (int t = 0; t < kThreads; ++t) {
        keys.insert("key" + std::to_string(t));
    }
    std::atomic<int> unexpected{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &keys, &unexpected] {
            const std::string on =
                "app://x?stgw_debug_enable=1&stgw_preview_key=key" + std::to_string(t);
            for (int round = 0; round < kRounds; ++round) {
                APMMeasurement::handleSTGWDebugModeWithURL(
                    round % 3 == 2 ? "app://x?stgw_debug_enable=0" : on);
                // A reader sees no headers or one whole header of some thread's link.
                const auto headers = APMMeasurement::STGWPreviewHeaders();
                if (headers && (headers->size() != 1 || !keys.count(headers->begin()->second) ||
                                headers->begin()->first != "X-Tgw-Server-Preview")) {
                    ++unexpected;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(unexpected.load(), 0);
    APMMeasurement::handleSTGWDebugModeWithURL("app://x?stgw_debug_enable=1&stgw_preview_key=last");
    EXPECT_EQ(APMMeasurement::STGWPreviewHeaders(),
              (std::map<std::string, std::string>{{"X-Tgw-Server-Preview", "last"}}));
}

}  // namespace
