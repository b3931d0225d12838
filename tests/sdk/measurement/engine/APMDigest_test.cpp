#include "sdk/measurement/engine/APMDigest.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(APMDigest, MD5MatchesTheReferenceVectors) {
    const std::pair<std::string_view, std::string_view> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [text, hex] : vectors) {
        EXPECT_EQ(apm_MD5String(text), std::string(hex)) << text;
    }
    EXPECT_EQ(apm_MD5Data(bytesOf("abc")).size(), 16u);
    EXPECT_EQ(apm_MD5String("\xff\xfe"), std::nullopt) << "not UTF-8";
}

TEST(APMDigest, LeastSignificantBitsReadTheLastEightBytesBigEndian) {
    const std::vector<std::uint8_t> three{1, 2, 3};
    EXPECT_EQ(apm_64LeastSignificantBits(three), 66051);
    const std::vector<std::uint8_t> ten{0xAA, 0xBB, 0, 0, 0, 0, 0, 0, 1, 0};
    EXPECT_EQ(apm_64LeastSignificantBits(ten), 256) << "bytes 3 to 10";
    EXPECT_EQ(apm_64LeastSignificantBits({}), 0);
    const std::vector<std::uint8_t> ones(8, 0xFF);
    EXPECT_EQ(apm_64LeastSignificantBits(ones), -1);
    EXPECT_EQ(apm_64LSBMD5(bytesOf("abc")), static_cast<std::int64_t>(0xd6963f7d28e17f72ULL));
}

}  // namespace
