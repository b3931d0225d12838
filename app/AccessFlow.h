#pragma once

#include <cstdint>
#include <filesystem>

namespace cb {

class AppState;

// The Full Disk Access gate of AppState in front of a scan: an ordinary location is scanned at
// once; for a protected one the access probe runs off the UI thread and, without access, the
// location is held in fdaPromptForURL (the prompt shows) until the user goes on. Only the latest
// check may start its scan: a later check or any scan supersedes it. UI thread only; owned by
// the state and alive as long as it.
class AccessFlow {
  public:
    explicit AccessFlow(AppState& state) : state_(state) {}

    AccessFlow(const AccessFlow&) = delete;
    AccessFlow& operator=(const AccessFlow&) = delete;

    // The actions of AppState with the same names.
    void startScan(const std::filesystem::path& location);
    void scanAfterAccessPrompt();

    // A check still under way no longer starts its scan (a scan has started meanwhile).
    void supersede() { ++accessCheck_; }

  private:
    void finishAccessCheck(uint64_t request, const std::filesystem::path& location, bool hasAccess);

    AppState& state_;
    uint64_t accessCheck_ = 0;  // the latest check; older ones are dropped
};

}  // namespace cb
