#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cb {

// Local backup snapshots of a volume, listed and thinned by the system's snapshot tool run as a
// child process. Without the tool (as on Linux) the list is empty and thinning does nothing.
//
// No instances and no state: every call starts its own child with its own pipe, so calls may run
// at the same time on different threads. Each blocks its thread until the child has exited;
// call them off the UI thread.
class SnapshotService {
  public:
    // The system's snapshot tool.
    static constexpr const char* kToolPath = "/usr/bin/tmutil";

    // One local snapshot, identified by its name.
    struct Snapshot {
        // The name as the tool prints it, starting with "com.apple.TimeMachine.".
        std::string name;

        const std::string& id() const { return name; }
        friend bool operator==(const Snapshot&, const Snapshot&) = default;
    };

    SnapshotService() = delete;

    // Runs `executable` with `arguments` and returns its standard output and standard error,
    // interleaved in one text. Returns the empty text when the child cannot be started or its
    // output is not valid UTF-8. The exit status is not looked at.
    static std::string run(const std::string& executable,
                           const std::vector<std::string>& arguments);

    // The snapshots of the volume mounted at `mountPoint`, in the order the tool printed them.
    // Empty when the tool is missing or fails. `tool` is the tool's path (tests use a fake).
    static std::vector<Snapshot> listLocalSnapshots(const std::string& mountPoint,
                                                    const std::string& tool = kToolPath);

    // The snapshots named in the tool's listing `output`: each line, trimmed of horizontal white
    // space, that begins with "com.apple.TimeMachine." (case-sensitive). Other lines are dropped.
    static std::vector<Snapshot> parseSnapshotList(std::string_view output);

    // Asks the tool to free `amount` bytes of snapshots on `mountPoint` at `urgency` and returns
    // its output unchanged.
    static std::string thinLocalSnapshots(int64_t amount, const std::string& mountPoint,
                                          int urgency, const std::string& tool = kToolPath);
};

}  // namespace cb
