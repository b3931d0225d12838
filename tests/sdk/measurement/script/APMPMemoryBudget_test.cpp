// The memory cap counts what script values really cost: every allocation of the process is
// counted here (operator new is replaced for this test program), and a program that grows
// until the cap stops it never holds much more than the cap.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "ProgramText.h"
#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace {

std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

void* counted(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    const std::int64_t live = liveBytes += static_cast<std::int64_t>(malloc_usable_size(block));
    std::int64_t peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return block;
}

void uncounted(void* block) {
    if (block != nullptr) {
        liveBytes -= static_cast<std::int64_t>(malloc_usable_size(block));
        std::free(block);
    }
}

}  // namespace

void* operator new(std::size_t size) {
    return counted(size);
}
void* operator new[](std::size_t size) {
    return counted(size);
}
void operator delete(void* block) noexcept {
    uncounted(block);
}
void operator delete[](void* block) noexcept {
    uncounted(block);
}
void operator delete(void* block, std::size_t) noexcept {
    uncounted(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    uncounted(block);
}

namespace {

using namespace script_test;

// Statements that make `name` a string of 8 * 2^doublings units.
std::string Doubled(const std::string& name, int doublings) {
    return "41(\"" + name + "\", \"i\") 3(\"" + name +
           "\", \"abcdefgh\") 3(\"i\", 0) 42(23(15(\"i\"), " + std::to_string(doublings) +
           "), 3(\"i\", 0(15(\"i\"), 1)), false, 46(3(\"" + name + "\", 0(15(\"" + name +
           "\"), 15(\"" + name + "\"))))) ";
}

// `body` repeated until the budget stops it.
std::string Forever(const std::string& body) {
    return "42(true, 44(), false, 46(" + body + "))";
}

TEST(APMPMemoryBudget, LiveScriptMemoryStaysWithinTwiceTheCap) {
    const struct {
        const char* name;
        std::string program;
    } rows[] = {
        // A string of 2,097,152 units split into one-unit strings.
        {"split into units", Doubled("s", 18) + R"(52("a", 2(15("s"), "split", 7(""))))"},
        // As many pieces as fit, kept alive together.
        {"split pieces kept",
         Doubled("s", 14) + R"(52("all", 7()) )" +
             Forever(R"(2(15("all"), "push", 7(2(15("s"), "split", 7("")))))")},
        // Keys of an object made from an array's indexes.
        {"for-in keys", Doubled("s", 14) +
                            R"(52("a", 2(15("s"), "split", 7(""))) 52("all", 7()) )" +
                            Forever(R"(2(15("all"), "push", 7(15("a"))) 47("k", 15("a"), 46()))")},
        // Numbers, maps, arrays and closures, many per statement.
        {"small objects",
         R"(52("all", 7()) )" +
             Forever(R"(2(15("all"), "push", 7(0(1, 1), 0(1, 2), 8("k", 0(1, 3)), 7(0(1, 4)),)"
                     R"( 51("f", 7("x"), 15("x")), 0(1, 5), 0(1, 6))))")},
        // Strings, each a new text.
        {"strings",
         R"(52("all", 7()) 41("n") 3("n", 0) )" +
             Forever(R"(3("n", 0(15("n"), 1)) 2(15("all"), "push", 7(0("item ", 15("n")))))")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto entities = program_text::Entities(row.program);
        ASSERT_TRUE(entities);
        const std::int64_t before = liveBytes.load();
        peakBytes = before;
        {
            APMPRuntime runtime;
            sdk::Error error;
            runtime.executeStatements(*entities, error);
            EXPECT_LE(runtime.objectManager()->budget()->bytesInUse(),
                      APMPRuntimeBudget::kMaxBytes + (1u << 20));
        }
        const double grown = static_cast<double>(peakBytes.load() - before);
        EXPECT_LE(grown, 2.0 * APMPRuntimeBudget::kMaxBytes) << grown / (1 << 20) << " MiB";
    }
}

}  // namespace
