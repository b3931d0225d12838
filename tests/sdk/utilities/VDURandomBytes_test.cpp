// Random bytes come from the kernel, so SDK timers that still run while the process exits (after
// the crypto library has torn down its generator) can draw them.
#include "sdk/utilities/VDURandomBytes.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <array>
#include <cstdlib>
#include <vector>

namespace {

TEST(VDURandomBytesTest, FillsLargeBuffersAndDrawsDiffer) {
    std::vector<unsigned char> first(1 << 20, 0);
    std::vector<unsigned char> second(1 << 20, 0);
    ASSERT_TRUE(VDURandomBytes(first.data(), first.size()));
    ASSERT_TRUE(VDURandomBytes(second.data(), second.size()));
    EXPECT_NE(first, second);
    // A megabyte left all zero past its first page would mean a short read went unnoticed.
    EXPECT_NE(std::vector<unsigned char>(first.begin() + 4096, first.end()),
              std::vector<unsigned char>(first.size() - 4096, 0));
    EXPECT_TRUE(VDURandomBytes(nullptr, 0));
}

// Cleans the crypto library up, as its exit handler does, then draws: 0 when the draw worked.
[[noreturn]] void drawAfterCleanup() {
    OPENSSL_cleanup();
    std::array<unsigned char, 16> bytes{};
    std::exit(VDURandomBytes(bytes.data(), bytes.size()) ? 0 : 1);
}

TEST(VDURandomBytesTest, DrawsAfterTheCryptoLibraryHasCleanedUp) {
    EXPECT_EXIT(drawAfterCleanup(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
