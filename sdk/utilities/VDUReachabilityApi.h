#pragma once

#include <cstdint>

// The five functions the reachability checker reaches the platform through, so that a test
// can run the checker against a table of its own. The default table drives a
// platform::ReachabilityProbe.

// An opaque reachability object made by the table's create function.
using VDUReachabilityRef = void*;

// What the checker passes with its callback: `info` comes back with every reading.
struct VDUReachabilityContext {
    std::int64_t version = 0;
    void* info = nullptr;
};

// Called with each reading: the object, its flags (see VDUReachabilityChecker::statusForFlags)
// and the context's info.
using VDUReachabilityCallback = void (*)(VDUReachabilityRef target, std::uint32_t flags,
                                         void* info);

struct VDUReachabilityApi {
    // Makes an object for the UTF-8 host name; null when none can be made.
    VDUReachabilityRef (*createWithNameFn)(const char* host);
    // Sets the callback and its context (copied); false when refused.
    bool (*setCallbackFn)(VDUReachabilityRef target, VDUReachabilityCallback callback,
                          const VDUReachabilityContext* context);
    // Starts delivering readings on the main queue; false when refused.
    bool (*scheduleWithRunLoopFn)(VDUReachabilityRef target);
    // Stops delivering readings; a reading not yet delivered is dropped.
    bool (*unscheduleFromRunLoopFn)(VDUReachabilityRef target);
    // Frees the object.
    void (*releaseFn)(VDUReachabilityRef target);
};

// The default table: a platform::ReachabilityProbe per object, readings on the main queue.
const VDUReachabilityApi* VDUDefaultReachabilityApi();
