#include "tests/support/TempDir.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace cb::testsupport {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern);
    }
    path_ = fs::canonical(pattern);
}

TempDir::~TempDir() {
    removeTree(path_);
}

void TempDir::openToEveryone() const {
    ::chmod(path_.c_str(), 0755);
}

void removeTree(const fs::path& path) {
    std::error_code ec;
    // Give every folder back its owner permissions so the removal can list and unlink.
    if (fs::is_directory(fs::symlink_status(path, ec))) {
        ::chmod(path.c_str(), 0700);
        for (auto it = fs::recursive_directory_iterator(path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                ::chmod(it->path().c_str(), 0700);
            }
        }
    }
    fs::remove_all(path, ec);
}

}  // namespace cb::testsupport
