#pragma once

#include <functional>
#include <string>

namespace cb::testsupport {

// What a child process reported.
struct ChildResult {
    int exitCode = -1;   // the child's exit status, or -1 when it did not exit normally
    std::string output;  // what `body` returned
};

// Runs `body` in a forked child that has dropped root privileges (to user and group "nobody",
// 65534, with no supplementary groups) when the test runs as root, so permission checks apply as
// they do for an ordinary user. The child returns `body`'s string through a pipe and exits 0; it
// exits 3 (with the reason as output) when it cannot drop privileges, and 4 (with the exception's
// message as output) when `body` throws. Blocks until the child ends.
// REQUIRES: no other threads are running (fork copies only the calling thread).
ChildResult runUnprivileged(const std::function<std::string()>& body);

// Runs `body` in a forked child (with the caller's privileges) that has a mount namespace of its
// own, in which `source` is bind-mounted onto `target`; the mount ends with the child and never
// reaches the rest of the system. Returns as runUnprivileged() does, and exit code 5 with the
// reason as output when no mount namespace or bind mount can be had (not root, say).
// REQUIRES: no other threads are running.
ChildResult runInMountNamespace(const std::string& source, const std::string& target,
                                const std::function<std::string()>& body);

// The command prefix that runs a program as "nobody" when the caller is root
// ("setpriv --reuid=65534 --regid=65534 --clear-groups "), else empty.
std::string unprivilegedCommandPrefix();

}  // namespace cb::testsupport
