#pragma once

#include <cstdint>
#include <string>

namespace cb {

// One progress report of a running scan: a consistent copy of the scanner's counters taken under
// its lock.
struct ScanProgress {
    int64_t bytesScanned = 0;   // allocated bytes of the files counted so far
    int64_t filesScanned = 0;   // non-folder entries counted so far
    std::string currentPath;    // the folder entered last, or an "…(N)" text for long folders
    double filesPerSecond = 0;  // files per second, recomputed at most every 0.5 s
};

}  // namespace cb
