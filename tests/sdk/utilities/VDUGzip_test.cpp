#include "sdk/utilities/VDUGzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace {

using sdk::Bytes;
using sdk::Error;

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 engine(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(engine());
    }
    return bytes;
}

// Text that compresses well but spans many 1024-byte output chunks when expanded.
Bytes sampleText() {
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += "event " + std::to_string(i) + " size_bytes=" + std::to_string(i * 37) + "\n";
    }
    return bytesOf(text);
}

// Compresses with zlib directly: `windowBits` 15 gives a zlib wrapper, -15 raw deflate.
Bytes deflateWith(const Bytes& data, int windowBits) {
    z_stream stream{};
    EXPECT_EQ(
        deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY),
        Z_OK);
    Bytes out(deflateBound(&stream, data.size()));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A folder for files handed to the system's gzip tool.
class VDUGzipToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vdugzip-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void writeFile(const std::filesystem::path& path, const Bytes& data) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::streamsize>(data.size()));
    }
    Bytes readFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    // Runs a shell command in the test folder and asserts it succeeded.
    void run(const std::string& command) {
        const std::string line = "cd '" + dir_.string() + "' && " + command;
        ASSERT_EQ(std::system(line.c_str()), 0) << line;
    }

    std::filesystem::path dir_;
};

TEST_F(VDUGzipToolTest, OurOutputIsGzipThatTheToolRestores) {
    const Bytes input = sampleText();
    Error error;
    const auto compressed = vdu_dataByGzippingData(input, &error);
    ASSERT_TRUE(compressed.has_value());
    EXPECT_TRUE(error.ok());
    ASSERT_GE(compressed->size(), 2u);
    EXPECT_EQ((*compressed)[0], 0x1F);
    EXPECT_EQ((*compressed)[1], 0x8B);
    EXPECT_LT(compressed->size(), input.size() / 4);
    writeFile(dir_ / "ours.gz", *compressed);
    run("gzip -dc ours.gz > ours.out");
    EXPECT_EQ(readFile(dir_ / "ours.out"), input);
}

TEST_F(VDUGzipToolTest, ToolOutputInflates) {
    const Bytes input = sampleText();
    writeFile(dir_ / "theirs", input);
    run("gzip -9 -c theirs > theirs.gz");
    Error error;
    const auto inflated = vdu_dataByInflatingGzippedData(readFile(dir_ / "theirs.gz"), &error);
    ASSERT_TRUE(inflated.has_value()) << error.ToString();
    EXPECT_EQ(*inflated, input);
}

TEST(VDUGzipTest, RoundTripsIncompressibleAndTinyData) {
    for (const Bytes& input : {randomBytes(300000, 1), bytesOf("x"), Bytes{0}}) {
        Error error;
        const auto compressed = vdu_dataByGzippingData(input, &error);
        ASSERT_TRUE(compressed.has_value());
        const auto back = vdu_dataByInflatingGzippedData(*compressed, &error);
        ASSERT_TRUE(back.has_value()) << error.ToString();
        EXPECT_EQ(*back, input);
        EXPECT_TRUE(error.ok());
    }
}

TEST(VDUGzipTest, ZlibWrappedStreamInflates) {
    const Bytes input = sampleText();
    Error error;
    const auto inflated = vdu_dataByInflatingGzippedData(deflateWith(input, 15), &error);
    ASSERT_TRUE(inflated.has_value()) << error.ToString();
    EXPECT_EQ(*inflated, input);
}

TEST(VDUGzipTest, EmptyInputGivesNothingWithoutError) {
    Error error;
    EXPECT_FALSE(vdu_dataByGzippingData({}, &error).has_value());
    EXPECT_TRUE(error.ok());
    EXPECT_FALSE(vdu_dataByInflatingGzippedData({}, &error).has_value());
    EXPECT_TRUE(error.ok());
}

TEST(VDUGzipTest, BadStreamsFailWithZlibsStatusAndMessage) {
    const Bytes input = sampleText();
    const Bytes gzip = *vdu_dataByGzippingData(input, nullptr);
    struct Case {
        const char* name;
        Bytes data;
        int status;
        bool hasMessage;
    };
    const Case cases[] = {
        {"raw deflate", deflateWith(input, -15), Z_DATA_ERROR, true},
        {"random bytes", randomBytes(4096, 2), Z_DATA_ERROR, true},
        {"truncated gzip", Bytes(gzip.begin(), gzip.begin() + gzip.size() / 2), Z_BUF_ERROR, false},
    };
    for (const Case& c : cases) {
        Error error;
        EXPECT_FALSE(vdu_dataByInflatingGzippedData(c.data, &error).has_value()) << c.name;
        EXPECT_TRUE(error.is(kVDUNSDataZlibErrorDomain, VDUNSDataZlibErrorInternal))
            << c.name << ": " << error.ToString();
        ASSERT_NE(error.userInfoValue(kVDUNSDataZlibErrorKey), nullptr) << c.name;
        EXPECT_EQ(*error.userInfoValue(kVDUNSDataZlibErrorKey), sdk::Value(c.status)) << c.name;
        EXPECT_EQ(!error.message().empty(), c.hasMessage) << c.name << ": " << error.message();
        // Without an error out-parameter the failure still gives nothing.
        EXPECT_FALSE(vdu_dataByInflatingGzippedData(c.data, nullptr).has_value()) << c.name;
    }
    Error rawError;
    (void)vdu_dataByInflatingGzippedData(deflateWith(input, -15), &rawError);
    EXPECT_EQ(rawError.message(), "incorrect header check");
}

TEST(VDUGzipTest, TwoMembersReportTheSecondMembersLength) {
    const Bytes first = *vdu_dataByGzippingData(bytesOf("first member"), nullptr);
    const Bytes second = *vdu_dataByGzippingData(bytesOf("second, longer member"), nullptr);
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    Error error;
    EXPECT_FALSE(vdu_dataByInflatingGzippedData(both, &error).has_value());
    EXPECT_TRUE(error.is(kVDUNSDataZlibErrorDomain, VDUNSDataZlibErrorDataRemaining));
    ASSERT_NE(error.userInfoValue(kVDUNSDataZlibRemainingBytesKey), nullptr);
    EXPECT_EQ(*error.userInfoValue(kVDUNSDataZlibRemainingBytesKey),
              sdk::Value(static_cast<std::int64_t>(second.size())));
}

// A few kilobytes that inflate to `size` zero bytes.
Bytes zeroBomb(std::size_t size) {
    return *vdu_dataByGzippingData(Bytes(size, 0), nullptr);
}

TEST(VDUGzipTest, OutputBeyondTheLimitFailsBeforeItIsHeld) {
    const Bytes bomb = zeroBomb(4u << 20);
    ASSERT_LT(bomb.size(), 8192u);
    struct Case {
        std::size_t limit;
        bool inflates;
    };
    for (const Case& c :
         {Case{4u << 20, true}, Case{(4u << 20) - 1, false}, Case{1000, false}, Case{0, false}}) {
        SCOPED_TRACE(c.limit);
        Error error;
        const auto inflated = vdu_dataByInflatingGzippedData(bomb, &error, c.limit);
        EXPECT_EQ(inflated.has_value(), c.inflates);
        if (!c.inflates) {
            EXPECT_TRUE(error.is(kVDUNSDataZlibErrorDomain, VDUNSDataZlibErrorInternal))
                << error.ToString();
            ASSERT_NE(error.userInfoValue(kVDUNSDataZlibErrorKey), nullptr);
            EXPECT_EQ(*error.userInfoValue(kVDUNSDataZlibErrorKey), sdk::Value(Z_BUF_ERROR));
            EXPECT_NE(error.message().find(std::to_string(c.limit)), std::string::npos)
                << error.message();
        }
    }
    // Without a named limit the default applies: 64 MiB of zeros (64 KiB compressed) is refused.
    Error error;
    EXPECT_FALSE(vdu_dataByInflatingGzippedData(zeroBomb(kVDUDefaultMaxInflatedSize + 1), &error));
    EXPECT_TRUE(error.is(kVDUNSDataZlibErrorDomain, VDUNSDataZlibErrorInternal));
    EXPECT_TRUE(vdu_dataByInflatingGzippedData(zeroBomb(kVDUDefaultMaxInflatedSize), &error));
}

}  // namespace
