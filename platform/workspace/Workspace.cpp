#include "platform/workspace/Workspace.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "platform/bundle/Bundle.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

// The pids /proc lists, ascending.
std::vector<pid_t> listPids() {
    std::vector<pid_t> pids;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) {
        return pids;
    }
    while (const dirent* entry = ::readdir(proc.get())) {
        const char* name = entry->d_name;
        const char* end = name + std::strlen(name);
        pid_t pid = 0;
        auto [rest, error] = std::from_chars(name, end, pid);
        if (error == std::errc() && rest == end && pid > 0) {
            pids.push_back(pid);
        }
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

// The target of /proc/<pid>/exe, or nullopt when it cannot be read.
std::optional<fs::path> executableOf(pid_t pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target) {
        return std::nullopt;
    }
    return fs::path(std::string(target, static_cast<size_t>(length)));
}

}  // namespace

bool Workspace::openUrl(const std::string& url) {
    // Without a QGuiApplication there is no desktop session to talk to, and QDesktopServices
    // must not be used.
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr)
        return false;
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    if (!parsed.isValid())
        return false;
    if (QThread::currentThread() == app->thread())
        return QDesktopServices::openUrl(parsed);
    // QDesktopServices belongs to the GUI thread; hand the request over and do not wait.
    QMetaObject::invokeMethod(
        app, [parsed] { QDesktopServices::openUrl(parsed); }, Qt::QueuedConnection);
    return true;
}

bool Workspace::openApplication(const std::filesystem::path& bundle) {
    const std::optional<Bundle> opened = Bundle::open(bundle);
    if (!opened) {
        return false;
    }
    const std::optional<fs::path> executable = opened->executablePath();
    std::error_code error;
    if (!executable || !fs::is_regular_file(*executable, error)) {
        return false;
    }
    // Everything the child needs is prepared before fork(): after it, only async-signal-safe
    // calls are allowed in a threaded process.
    const std::string program = executable->string();
    const std::string folder = bundle.parent_path().string();
    char* const argv[] = {const_cast<char*>(program.c_str()), nullptr};
    // Two forks: the intermediate child starts a new session, forks the program and exits at
    // once, so the program is adopted by init and nobody here has to reap it.
    const pid_t child = ::fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
                ::_exit(127);
            }
            ::execv(program.c_str(), argv);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<RunningApplication> Workspace::runningApplications() {
    std::vector<RunningApplication> running;
    // Several processes often run from one bundle (helpers, several windows).
    std::map<fs::path, std::optional<std::string>> identifiers;
    for (pid_t pid : listPids()) {
        std::optional<fs::path> executable = executableOf(pid);
        if (!executable) {
            continue;
        }
        RunningApplication app{pid, std::nullopt};
        if (std::optional<fs::path> bundlePath = Bundle::bundlePathOfExecutable(*executable)) {
            auto [found, added] = identifiers.try_emplace(*bundlePath);
            if (added) {
                std::optional<Bundle> bundle = Bundle::open(*bundlePath);
                found->second = bundle ? bundle->identifier() : std::nullopt;
            }
            app.bundleIdentifier = found->second;
        }
        running.push_back(std::move(app));
    }
    return running;
}

void Workspace::terminate(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
    }
}

Workspace& Workspace::shared() {
    static Workspace workspace;
    return workspace;
}

}  // namespace platform
