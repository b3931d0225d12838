#include "tests/support/BundledProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/support/Fixtures.h"

extern char** environ;

namespace cb::testsupport {

namespace fs = std::filesystem;

namespace {

fs::path sleepProgram() {
    for (const char* candidate : {"/usr/bin/sleep", "/bin/sleep"}) {
        if (fs::exists(candidate)) {
            return candidate;
        }
    }
    throw std::runtime_error("no sleep program");
}

}  // namespace

BundledProcess::BundledProcess(const fs::path& folder, const std::string& bundle,
                               const std::string& identifier, const std::string& executable)
    : bundlePath_(folder / bundle) {
    writeText(bundlePath_ / "Contents" / "Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<plist version=\"1.0\"><dict>\n"
              "<key>CFBundleIdentifier</key><string>" +
                  identifier +
                  "</string>\n"
                  "<key>CFBundleExecutable</key><string>" +
                  executable + "</string>\n</dict></plist>\n");
    const fs::path program = bundlePath_ / "Contents" / "MacOS" / executable;
    makeDir(program.parent_path());
    fs::copy_file(sleepProgram(), program);
    std::string path = program.string();
    std::string seconds = "600";
    char* argv[] = {path.data(), seconds.data(), nullptr};
    const int error = ::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
        pid_ = -1;
        throw std::runtime_error("posix_spawn " + path + ": " + std::strerror(error));
    }
}

BundledProcess::~BundledProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

int BundledProcess::wait() {
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(pid_, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    pid_ = -1;
    return reaped > 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

}  // namespace cb::testsupport
