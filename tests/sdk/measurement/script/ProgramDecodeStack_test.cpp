// How much stack a program at the deepest nesting the decoder accepts takes to decode and
// convert, measured on a worker thread of its own. The sanitizer build runs this too, where
// frames are largest.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <iostream>

#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/messages/MessageCodec.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"

namespace {

constexpr std::uint8_t kPaint = 0xA5;

void AppendVarint(sdk::Bytes& out, std::size_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

// A Program whose one instruction is a chain of `depth` statements "f" around the number 1.
sdk::Bytes DeepProgram(std::size_t depth) {
    sdk::Bytes entity = {0x08, 0x02, 0x31, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};  // number 1
    for (std::size_t i = 0; i < depth; ++i) {
        sdk::Bytes parent = {0x08, 0x04, 0x1A, 0x01, 'f', 0x12};
        AppendVarint(parent, entity.size());
        parent.insert(parent.end(), entity.begin(), entity.end());
        entity = std::move(parent);
    }
    sdk::Bytes program = {0x0A};
    AppendVarint(program, entity.size());
    program.insert(program.end(), entity.begin(), entity.end());
    return program;
}

// The painted bytes still untouched at the low end of a stack.
__attribute__((no_sanitize("address"))) std::size_t UntouchedBytes(const std::uint8_t* low,
                                                                   std::size_t size) {
    std::size_t untouched = 0;
    while (untouched < size && low[untouched] == kPaint) {
        ++untouched;
    }
    return untouched;
}

// Runs `work` on a thread whose `size`-byte stack is painted first (with a guard page below
// it); returns how many bytes of it were touched.
std::size_t StackBytesUsed(const std::function<void()>& work, std::size_t size) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* region =
        mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(region, MAP_FAILED);
    if (region == MAP_FAILED) {
        return size;
    }
    mprotect(region, page, PROT_NONE);
    auto* stack = static_cast<std::uint8_t*>(region) + page;
    std::memset(stack, kPaint, size);

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstack(&attributes, stack, size);
    pthread_t thread;
    const auto run = [](void* argument) -> void* {
        (*static_cast<const std::function<void()>*>(argument))();
        return nullptr;
    };
    EXPECT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    const std::size_t used = size - UntouchedBytes(stack, size);
    munmap(region, size + page);
    return used;
}

TEST(ProgramDecodeStack, TheDeepestProgramFitsAWorkerThreadStack) {
    // Entities as deep as the decoder accepts below a Program and its configuration.
    const std::size_t depth = apmpb::kMaxProgramDecodeDepth - 2;
    const sdk::Bytes bytes = DeepProgram(depth);
    bool decoded = false;
    sdk::Error conversion;
    const std::size_t used = StackBytesUsed(
        [&] {
            auto program = APMPBProgram::initWithBuffer(bytes);
            decoded = program != nullptr;
            if (!decoded) {
                return;
            }
            const auto instructions =
                APMPBGetRepeated<APMPBRuntimeEntity>(program.get(), apmpb::Program::kInstructions);
            const auto& entity = std::get<std::shared_ptr<NANOMessageBase>>(instructions->at(0));
            APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*entity, conversion);
        },
        std::size_t{16} << 20);
    ASSERT_TRUE(decoded);
    // 1002 levels: the converter stops past its 1000 with error 18, after walking them all.
    EXPECT_EQ(conversion.code(), 18);
    std::cout << "stack used to decode and convert " << depth << " levels: " << used << " bytes\n";
    RecordProperty("stack_bytes", std::to_string(used));
    // A worker thread gets the 8 MiB default stack; the deepest program needs well under half.
    EXPECT_LT(used, std::size_t{4} << 20);
}

}  // namespace
