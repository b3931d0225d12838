#pragma once

#include <cstddef>
#include <filesystem>

#include "sdk/core/heartbeat/Storage.h"

namespace heartbeat {

// A Storage back end over one file. The file and its folders come into being at the first
// write and are never removed here.
//
// Writes are atomic: the bytes go to a temporary file in the same folder, which is synced and
// renamed over the old file, so a reader sees either the old or the new content. Writing no
// data leaves an empty file; it never deletes the file. No other attribute is set.
class FileStorage final : public Storage {
  public:
    // Files larger than this are not read (the caller treats it as nothing stored).
    static constexpr std::size_t kMaxFileSize = 1u << 20;

    explicit FileStorage(std::filesystem::path url) : url_(std::move(url)) {}

    const std::filesystem::path& url() const { return url_; }

    // The whole file. readError when it is missing, unreadable, not a regular file or larger
    // than kMaxFileSize.
    std::optional<StorageError> read(sdk::Bytes* out) override;

    // Creates the containing folder (with its parents) and replaces the file with `data`, or
    // with an empty file for no data. writeError when any step fails; the old file then stays.
    std::optional<StorageError> write(const std::optional<sdk::Bytes>& data) override;

  private:
    const std::filesystem::path url_;
};

}  // namespace heartbeat
