// Peak memory of decoding hostile wire messages. Each case runs in this process alone with the
// heap high-water mark reset first, so the peak seen is the decode's own. The sanitizers keep
// freed memory aside on purpose, so there the numbers say nothing and the checks are skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CB_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CB_SANITIZED 1
#endif
#endif

using namespace messages_test;

namespace {

constexpr std::size_t kMiB = 1 << 20;

// A value of /proc/self/status in bytes.
std::size_t statusBytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0)
            return std::stoull(line.substr(key.size() + 1)) * 1024;
    }
    return 0;
}

// Runs `decode` and returns how far the resident size rose above where it started.
template <class Decode>
std::size_t peakGrowth(const char* what, Decode decode) {
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the high-water mark
    const std::size_t before = statusBytes("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    decode();
    const auto took = std::chrono::steady_clock::now() - start;
    const std::size_t peak = statusBytes("VmHWM");
    const std::size_t growth = peak > before ? peak - before : 0;
    std::printf("%s: peak memory of the decode %.1f MB, %.0f ms\n", what,
                static_cast<double>(growth) / 1e6,
                std::chrono::duration<double, std::milli>(took).count());
    return growth;
}

// A configuration of about 2 MB: one program whose first instruction nests `value` 1,000
// RuntimeEntity levels deep above an entity holding two strings of 1 MB each.
sdk::Bytes deepConfiguration() {
    sdk::Bytes entity;
    appendField(entity, 3, sdk::Bytes(kMiB, 'f'));  // function_name
    appendField(entity, 4, sdk::Bytes(kMiB, 's'));  // string_value
    for (int level = 0; level < 1000; ++level) {
        sdk::Bytes outer = {0x08, 0x04};  // type STATEMENT
        appendField(outer, 2, entity);
        entity.swap(outer);
    }
    sdk::Bytes program;
    appendField(program, 1, entity);  // instructions
    sdk::Bytes config;
    appendField(config, 9, program);  // dynamic_event_editing
    return config;
}

// `count` empty elements of field `tag`, two bytes each.
sdk::Bytes emptyElements(std::uint32_t tag, std::size_t count) {
    sdk::Bytes out;
    out.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i)
        appendField(out, tag, {});
    return out;
}

}  // namespace

#ifdef CB_SANITIZED
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "memory figures are meaningless under sanitizers"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

TEST(DecodeMemory, DeepProgramOverLargeStringsCostsLittleMoreThanItsInput) {
    SKIP_UNDER_SANITIZERS();
    const sdk::Bytes input = deepConfiguration();
    ASSERT_GT(input.size(), 2 * kMiB);
    std::unique_ptr<APMPBMeasurementConfig> config;
    const std::size_t growth = peakGrowth("2 MB configuration nested 1,000 deep", [&] {
        config = APMPBMeasurementConfig::initWithBuffer(input);
    });
    ASSERT_NE(config, nullptr);
    EXPECT_LT(growth, 64 * kMiB);
    EXPECT_EQ(config->protoBuffer(), input);
}

// Many tiny elements: each costs a record far larger than its two bytes. Such input is refused
// once the records would pass 32 times the input (plus a constant), before memory runs away.
TEST(DecodeMemory, ManyEmptyElementsAreRefusedWithinAMultipleOfTheInput) {
    SKIP_UNDER_SANITIZERS();
    struct Case {
        const char* what;
        const apmpb::MessageType* type;
        std::uint32_t tag;
    };
    const Case cases[] = {
        {"1 M empty audiences", &apmpb::kMeasurementConfigType, 6},
        {"1 M empty bundles", &apmpb::kMeasurementBatchType, 1},
        {"1 M empty events", &apmpb::kMeasurementBundleType, 2},
    };
    CapturedLog log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const sdk::Bytes input = emptyElements(c.tag, 1'000'000);
        bool decoded = true;
        const std::size_t growth =
            peakGrowth(c.what, [&] { decoded = AnyMessage(*c.type, input).decoded(); });
        EXPECT_FALSE(decoded);
        EXPECT_LT(growth, 32 * input.size() + 16 * kMiB);
        EXPECT_NE(log.codec().find("decoder failed: decoded message too large"), std::string::npos);
        log.clear();
    }
}

// Ordinary messages stay well inside the bound: a bundle of 20,000 small events with two
// parameters each decodes and reads back unchanged.
TEST(DecodeMemory, ManySmallRealEventsDecode) {
    sdk::Bytes bundle = {0x08, 0x01};
    for (int i = 0; i < 20000; ++i) {
        sdk::Bytes event;
        for (const char* name : {"_o", "_et"}) {
            sdk::Bytes param;
            appendField(param, 1, sdk::Bytes(name, name + std::char_traits<char>::length(name)));
            param.push_back(0x18);  // int_value
            appendVarint(param, static_cast<std::uint64_t>(i));
            appendField(event, 1, param);
        }
        appendField(event, 2, {'_', 'e'});
        event.push_back(0x18);  // timestamp_millis
        appendVarint(event, 1700000000000 + static_cast<std::uint64_t>(i));
        appendField(bundle, 2, event);
    }
    auto decoded = APMPBMeasurementBundle::initWithBuffer(bundle);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->protoBuffer(), bundle);
}
