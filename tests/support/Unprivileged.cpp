#include "tests/support/Unprivileged.h"

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace cb::testsupport {

namespace {

constexpr uid_t kNobody = 65534;

// Drops to nobody; returns an empty string or the reason it failed.
std::string dropPrivileges() {
    if (::geteuid() != 0) {
        return {};
    }
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
        return std::string("cannot drop privileges: ") + std::strerror(errno);
    }
    return {};
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// Gives this process a private mount namespace with `source` bound onto `target`; returns an
// empty string or the reason it failed.
std::string bindInOwnNamespace(const std::string& source, const std::string& target) {
    if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
    }
    // Private first, so the bind mount does not propagate back to the shared mounts.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("making mounts private: ") + std::strerror(errno);
    }
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        return std::string("bind mount: ") + std::strerror(errno);
    }
    return {};
}

[[noreturn]] void runBody(int fd, const std::function<std::string()>& body) {
    // Nothing may unwind out of the child: the test framework of this forked copy would catch it
    // and go on to run the rest of the suite a second time.
    try {
        writeAll(fd, body());
    } catch (const std::exception& e) {
        writeAll(fd, std::string("exception: ") + e.what());
        ::_exit(4);
    } catch (...) {
        writeAll(fd, "exception");
        ::_exit(4);
    }
    ::_exit(0);
}

[[noreturn]] void runChild(int fd, const std::function<std::string()>& body) {
    const std::string error = dropPrivileges();
    if (!error.empty()) {
        writeAll(fd, error);
        ::_exit(3);
    }
    runBody(fd, body);
}

// Forks, runs `child(fd)` in the child and collects what it writes to fd and its exit code.
ChildResult runForked(const std::function<void(int fd)>& child) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::close(fds[0]);
        child(fds[1]);
        ::_exit(0);
    }
    ::close(fds[1]);
    ChildResult result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            result.output.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace

ChildResult runUnprivileged(const std::function<std::string()>& body) {
    return runForked([&](int fd) { runChild(fd, body); });
}

ChildResult runInMountNamespace(const std::string& source, const std::string& target,
                                const std::function<std::string()>& body) {
    return runForked([&](int fd) {
        const std::string error = bindInOwnNamespace(source, target);
        if (!error.empty()) {
            writeAll(fd, error);
            ::_exit(5);
        }
        runBody(fd, body);
    });
}

std::string unprivilegedCommandPrefix() {
    return ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
}

}  // namespace cb::testsupport
