#include "app/disk/TrashError.h"

#include <utility>

namespace cb {

TrashError::TrashError(Kind kind, std::string message, std::vector<std::filesystem::path> succeeded,
                       std::vector<TrashFailure> failures)
    : kind_(kind),
      message_(std::move(message)),
      succeeded_(std::move(succeeded)),
      failures_(std::move(failures)) {}

TrashError TrashError::failed(std::string message) {
    return TrashError(Kind::failed, std::move(message), {}, {});
}

TrashError TrashError::partial(std::vector<std::filesystem::path> succeeded,
                               std::vector<TrashFailure> failed) {
    return TrashError(Kind::partial, {}, std::move(succeeded), std::move(failed));
}

std::string TrashError::errorDescription() const {
    if (kind_ == Kind::failed)
        return message_;
    std::string text = "Deleted: " + std::to_string(succeeded_.size()) +
                       ". Failed: " + std::to_string(failures_.size()) + ".\n\n";
    for (size_t i = 0; i < failures_.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += "\xE2\x80\xA2 " + lastPathComponent(failures_[i].url) + ": " + failures_[i].reason;
    }
    return text;
}

std::string lastPathComponent(const std::filesystem::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const size_t slash = text.rfind('/');
    if (slash == std::string::npos || text == "/")
        return text;
    return text.substr(slash + 1);
}

}  // namespace cb
