#pragma once

#include <filesystem>
#include <string>

namespace cb::testsupport {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the object goes
// away, also when tests made parts of it unreadable.
class TempDir {
  public:
    // Creates the folder; throws std::runtime_error when it cannot.
    explicit TempDir(const std::string& prefix = "cb-test");
    ~TempDir();

    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's absolute path (no trailing "/").
    const std::filesystem::path& path() const { return path_; }

    // `relative` below the folder.
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

    // Lets a process of any user enter and read the folder itself (mode 0755); the contents keep
    // their own modes. Used before handing the folder to an unprivileged child.
    void openToEveryone() const;

  private:
    std::filesystem::path path_;
};

// Removes `path` recursively, first restoring owner permissions on folders tests locked.
// Missing paths are fine.
void removeTree(const std::filesystem::path& path);

}  // namespace cb::testsupport
