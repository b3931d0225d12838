#include "platform/process/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace platform {
namespace {

// A file descriptor closed when it goes out of scope.
class Fd {
  public:
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

struct Pipe {
    Fd read;
    Fd write;
};

// Opens a pipe whose ends are not inherited by other children started meanwhile.
bool openPipe(Pipe& pipe, int& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = errno;
        return false;
    }
    pipe.read.reset(fds[0]);
    pipe.write.reset(fds[1]);
    return true;
}

// Reads the given pipes until each reports end of file (or an error).
void readToEnd(std::array<int, 2> fds, std::array<std::string*, 2> sinks) {
    std::array<pollfd, 2> polls{};
    nfds_t count = 0;
    for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i] >= 0)
            polls[count++] = pollfd{fds[i], POLLIN, 0};
    }
    std::array<char, 16384> buffer;
    while (count > 0) {
        if (::poll(polls.data(), count, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (nfds_t i = 0; i < count;) {
            if (polls[i].revents == 0) {
                ++i;
                continue;
            }
            ssize_t n = ::read(polls[i].fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n > 0) {
                std::string* sink = polls[i].fd == fds[0] ? sinks[0] : sinks[1];
                sink->append(buffer.data(), static_cast<size_t>(n));
                polls[i].revents = 0;
                ++i;
                continue;
            }
            polls[i] = polls[--count];  // end of file or error: stop watching this pipe
        }
    }
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// RAII holders for the spawn attribute objects.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        // The child starts with default signal handling, whatever this process ignores.
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

ProcessResult launchFailure(int error) {
    ProcessResult result;
    result.launchError = std::strerror(error);
    result.launchErrorNumber = error;
    return result;
}

}  // namespace

std::string utf8OrEmpty(std::string bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        size_t length = c < 0x80           ? 1
                        : (c >> 5) == 0x6  ? 2
                        : (c >> 4) == 0xE  ? 3
                        : (c >> 3) == 0x1E ? 4
                                           : 0;
        if (length == 0 || i + length > n)
            return {};
        uint32_t code = length == 1 ? c : c & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return {};
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return {};  // overlong form, beyond Unicode, or a surrogate
        }
        i += length;
    }
    return bytes;
}

ProcessResult ProcessRunner::run(const std::string& executable,
                                 const std::vector<std::string>& arguments, OutputStreams streams) {
    int error = 0;
    Pipe out;
    Pipe err;
    const bool separate = streams == OutputStreams::separate;
    if (!openPipe(out, error) || (separate && !openPipe(err, error)))
        return launchFailure(error);

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, out.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&setup.actions, separate ? err.write.get() : out.write.get(),
                                     STDERR_FILENO);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    error = ::posix_spawn(&pid, executable.c_str(), &setup.actions, &setup.attributes, argv.data(),
                          environ);
    if (error != 0)
        return launchFailure(error);

    // Only the child may hold the write ends now, so the reads below end when it exits.
    out.write.reset();
    err.write.reset();
    ProcessResult result;
    result.launched = true;
    readToEnd({out.read.get(), err.read.get()}, {&result.output, &result.errorOutput});
    result.exitStatus = waitForExit(pid);
    return result;
}

ProcessRunner& ProcessRunner::shared() {
    static ProcessRunner runner;
    return runner;
}

}  // namespace platform
