#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cb {

// One item that was not moved to the Trash, with the reason as shown to the user.
struct TrashFailure {
    // The item's path as it was passed in.
    std::filesystem::path url;
    // A human-readable reason in the interface language, or the system's own text.
    std::string reason;
    // The system's error number when the item itself could not be moved for that reason (EACCES,
    // say), else 0. Tells a permission refusal apart in every interface language.
    int error = 0;

    friend bool operator==(const TrashFailure&, const TrashFailure&) = default;
};

// The outcome of moving a list of items to the Trash. Every item given is in exactly one list.
struct TrashBatchResult {
    // The items now in the Trash, each as it was passed in (its former location).
    std::vector<std::filesystem::path> succeeded;
    // The items not moved, with their reasons.
    std::vector<TrashFailure> failed;
};

// A failed move to the Trash.
class TrashError {
  public:
    enum class Kind {
        // One message says what went wrong.
        failed,
        // Some items moved and some did not.
        partial,
    };

    // A failure described by `message`.
    static TrashError failed(std::string message);

    // A partial success: `succeeded` moved, `failed` did not.
    static TrashError partial(std::vector<std::filesystem::path> succeeded,
                              std::vector<TrashFailure> failed);

    Kind kind() const { return kind_; }

    // The message of a `failed` error; empty for `partial`.
    const std::string& message() const { return message_; }

    // The moved and the failed items of a `partial` error; empty for `failed`.
    const std::vector<std::filesystem::path>& succeeded() const { return succeeded_; }
    const std::vector<TrashFailure>& failures() const { return failures_; }

    // The text shown to the user. For `failed`, the message. For `partial`, not localised:
    // "Deleted: N. Failed: M.", two line feeds, then one line "• NAME: REASON" per failed item
    // (NAME the last path component), lines joined by single line feeds with none at the end.
    std::string errorDescription() const;

  private:
    TrashError(Kind kind, std::string message, std::vector<std::filesystem::path> succeeded,
               std::vector<TrashFailure> failures);

    Kind kind_;
    std::string message_;
    std::vector<std::filesystem::path> succeeded_;
    std::vector<TrashFailure> failures_;
};

// The outcome of moving one item to the Trash: its new place, or the error (always `failed`).
// Exactly one of the two is set.
struct RecycleResult {
    // The item's new place in the Trash, when it moved.
    std::optional<std::filesystem::path> trashedUrl;
    // Why it did not move.
    std::optional<TrashError> error;

    // Whether the item moved.
    bool ok() const { return trashedUrl.has_value(); }
};

// The last path component of `path`, ignoring trailing slashes ("/a/b/" gives "b", "/" gives "/").
std::string lastPathComponent(const std::filesystem::path& path);

}  // namespace cb
