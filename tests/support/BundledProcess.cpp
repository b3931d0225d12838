#include "tests/support/BundledProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "tests/support/Fixtures.h"

extern char** environ;

namespace cb::testsupport {

namespace fs = std::filesystem;

namespace {

fs::path systemProgram(const char* name) {
    for (const fs::path folder : {"/usr/bin", "/bin"}) {
        if (fs::exists(folder / name)) {
            return folder / name;
        }
    }
    throw std::runtime_error(std::string("no program ") + name);
}

// True once the process runs `executable`. A spawn that forks and then execs (as the address
// sanitizer's may) returns before the exec, while the child still runs the test program.
bool runs(pid_t pid, const fs::path& executable) {
    std::error_code error;
    const fs::path exe = fs::read_symlink(fs::path("/proc") / std::to_string(pid) / "exe", error);
    return !error && exe == executable;
}

}  // namespace

BundledProcess::BundledProcess(const fs::path& folder, const std::string& bundle,
                               const std::string& identifier, const std::string& executable,
                               Program program)
    : bundlePath_(folder / bundle) {
    writeText(bundlePath_ / "Contents" / "Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<plist version=\"1.0\"><dict>\n"
              "<key>CFBundleIdentifier</key><string>" +
                  identifier +
                  "</string>\n"
                  "<key>CFBundleExecutable</key><string>" +
                  executable + "</string>\n</dict></plist>\n");
    const fs::path executablePath = bundlePath_ / "Contents" / "MacOS" / executable;
    makeDir(executablePath.parent_path());
    const bool shell = program == Program::termIgnoringShell;
    fs::copy_file(systemProgram(shell ? "sh" : "sleep"), executablePath);
    std::string path = executablePath.string();
    const fs::path ready = bundlePath_ / "ready";
    // The shell tells when its trap is set; its sleeps are short, so none outlives it by much.
    std::string script = "trap '' TERM; : > '" + ready.string() + "'; while :; do sleep 1; done";
    std::string option = "-c";
    std::string seconds = "600";
    char* sleepArgv[] = {path.data(), seconds.data(), nullptr};
    char* shellArgv[] = {path.data(), option.data(), script.data(), nullptr};
    const int error = ::posix_spawn(&pid_, path.c_str(), nullptr, nullptr,
                                    shell ? shellArgv : sleepArgv, environ);
    if (error != 0) {
        pid_ = -1;
        throw std::runtime_error("posix_spawn " + path + ": " + std::strerror(error));
    }
    for (int i = 0; !runs(pid_, executablePath); ++i) {
        if (i == 5000) {
            ::kill(pid_, SIGKILL);
            wait();
            throw std::runtime_error("the program did not start");
        }
        ::usleep(1000);
    }
    for (int i = 0; shell && !fs::exists(ready); ++i) {
        if (i == 5000) {
            ::kill(pid_, SIGKILL);
            wait();
            throw std::runtime_error("the shell did not start");
        }
        ::usleep(1000);
    }
}

BundledProcess::~BundledProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
}

int BundledProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
        const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
        if (reaped > 0) {
            pid_ = -1;
            return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        }
        if (reaped < 0 && errno != EINTR) {
            pid_ = -1;
            return 0;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace cb::testsupport
