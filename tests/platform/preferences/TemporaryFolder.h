#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace platform {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents at the end of the scope.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/cb-test-XXXXXX";
        path_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace platform
