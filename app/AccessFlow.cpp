#include "app/AccessFlow.h"

#include <optional>

#include "app/AppState.h"
#include "app/ScanFlow.h"

namespace cb {

void AccessFlow::startScan(const std::filesystem::path& location) {
    if (!state_.services_.isProtectedLocation(location)) {
        state_.scanFlow_->scan(location, std::nullopt);
        return;
    }
    // The access probe reads folders and may block; it runs off the UI thread. A later
    // startScan() or scan() supersedes this one.
    const uint64_t request = ++accessCheck_;
    state_.runInBackground(
        [handle = state_.handle_, probe = state_.services_.hasFullDiskAccess, location, request] {
            const bool access = probe();
            handle->post([location, request, access](AppState& state) {
                state.accessFlow_->finishAccessCheck(request, location, access);
            });
        });
}

void AccessFlow::finishAccessCheck(uint64_t request, const std::filesystem::path& location,
                                   bool hasAccess) {
    if (request != accessCheck_) {
        return;
    }
    if (hasAccess) {
        state_.scanFlow_->scan(location, std::nullopt);
    } else {
        state_.setFdaPromptForURL(location);
    }
}

void AccessFlow::scanAfterAccessPrompt() {
    if (!state_.fdaPromptForURL_) {
        return;
    }
    std::filesystem::path location = *state_.fdaPromptForURL_;
    state_.setFdaPromptForURL(std::nullopt);
    state_.scanFlow_->scan(location, std::nullopt);
}

}  // namespace cb
