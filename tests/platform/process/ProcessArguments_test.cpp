#include "platform/process/ProcessArguments.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using platform::processArguments;

// Runs this test binary again with only the child test and `extra` arguments; returns its output.
std::string runChild(const std::string& extra) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command =
        "CB_ARGS_CHILD=1 '" + self + "' --gtest_filter=ProcessArgumentsChild.* " + extra + " 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    return output;
}

TEST(ProcessArgumentsTest, ReadsTheRealCommandLineWithEmptyAndSpacedArguments) {
    const std::string output = runChild("-RZDDebugEnabled '' 'two words'");
    EXPECT_NE(output.find("args: [--gtest_filter=ProcessArgumentsChild.*][-RZDDebugEnabled][]"
                          "[two words]"),
              std::string::npos)
        << output;
}

TEST(ProcessArgumentsTest, TheOverrideReplacesAndRestores) {
    const std::vector<std::string> real = processArguments();
    ASSERT_FALSE(real.empty());
    platform::TEST_setProcessArguments(std::vector<std::string>{"prog", "-x"});
    EXPECT_EQ(processArguments(), (std::vector<std::string>{"prog", "-x"}));
    platform::TEST_setProcessArguments(std::nullopt);
    EXPECT_EQ(processArguments(), real);
}

// Runs only when started by runChild(): prints the arguments after the program name.
TEST(ProcessArgumentsChild, PrintsItsArguments) {
    if (std::getenv("CB_ARGS_CHILD") == nullptr) {
        GTEST_SKIP() << "helper of ProcessArgumentsTest";
    }
    std::string line = "args: ";
    const std::vector<std::string> arguments = processArguments();
    for (size_t i = 1; i < arguments.size(); ++i) {
        line += "[" + arguments[i] + "]";
    }
    std::printf("%s\n", line.c_str());
}

}  // namespace
