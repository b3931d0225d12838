#pragma once

namespace cb {

// Raises this process's soft limit of open files to its hard limit. Scan walkers keep one
// descriptor open per folder level, so several deep walks at once can exceed the usual 1024.
// Call once at start-up, before any scan; failures leave the limit as it was.
void raiseDescriptorLimit();

}  // namespace cb
