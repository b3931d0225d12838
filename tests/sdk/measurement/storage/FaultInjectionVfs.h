#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A SQLite file-system layer for tests that wraps the default one and becomes the default
// while it lives, so a store opened meanwhile uses it without knowing:
//  - it can fail the Nth write or sync from now on, once or from then on, with an I/O error;
//  - it keeps, for each file, its content as of its last successful sync, and after every sync
//    a copy of all of them: the states a power cut at that moment could leave on disk, where
//    everything written but not yet synced is lost.
// One at a time; not thread-safe (the tests use one thread).
class FaultInjectionVfs {
  public:
    FaultInjectionVfs();
    ~FaultInjectionVfs();
    FaultInjectionVfs(const FaultInjectionVfs&) = delete;
    FaultInjectionVfs& operator=(const FaultInjectionVfs&) = delete;

    enum class Operation { kWrite, kSync };

    // Fails the `n`th (from 1) `operation` counted from now; with `persistent`, every one after
    // it too. Resets the counters.
    void failAt(Operation operation, std::uint64_t n, bool persistent);
    // No more failures; counters reset.
    void disarm();
    // Operations of each kind since the last failAt or disarm.
    std::uint64_t writes() const { return writes_; }
    std::uint64_t syncs() const { return syncs_; }
    // True once an armed failure was given out.
    bool failed() const { return failed_; }

    // File path to content as of its last sync.
    using Image = std::map<std::string, std::string>;
    // The images recorded after each sync, oldest first.
    const std::vector<Image>& powerCutStates() const { return states_; }

    // Called by the layer's file methods.
    bool shouldFail(Operation operation);
    void recordSync(const std::string& path, std::string content);
    void forget(const std::string& path);

  private:
    Operation failOperation_ = Operation::kWrite;
    std::uint64_t failAt_ = 0;  // 0: armed for nothing
    bool persistent_ = false;
    bool failed_ = false;
    std::uint64_t writes_ = 0;
    std::uint64_t syncs_ = 0;
    Image synced_;
    std::vector<Image> states_;
};
