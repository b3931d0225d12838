#include "platform/process/ProcessArguments.h"

#include <fstream>
#include <mutex>

namespace platform {

namespace {

constexpr std::streamsize kMaxCommandLine = 4 << 20;

struct Override {
    std::mutex mutex;
    std::optional<std::vector<std::string>> arguments;  // guarded by mutex
};

Override& override() {
    static Override* const instance = new Override();  // never destroyed: read until exit
    return *instance;
}

// Splits the NUL-separated entries; the last one ends with a NUL too.
std::vector<std::string> splitCommandLine(const std::string& bytes) {
    std::vector<std::string> arguments;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\0', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        arguments.emplace_back(bytes, start, end - start);
        start = end + 1;
    }
    return arguments;
}

}  // namespace

std::vector<std::string> processArguments() {
    {
        std::lock_guard lock(override().mutex);
        if (override().arguments) {
            return *override().arguments;
        }
    }
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    std::string bytes;
    char chunk[16384];
    while (file && static_cast<std::streamsize>(bytes.size()) < kMaxCommandLine) {
        file.read(chunk, sizeof chunk);
        bytes.append(chunk, static_cast<size_t>(file.gcount()));
    }
    return splitCommandLine(bytes);
}

void TEST_setProcessArguments(std::optional<std::vector<std::string>> arguments) {
    std::lock_guard lock(override().mutex);
    override().arguments = std::move(arguments);
}

}  // namespace platform
