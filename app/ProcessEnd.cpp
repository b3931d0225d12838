#include "app/ProcessEnd.h"

#include <cstdio>
#include <cstdlib>

#include "sdk/analytics/REROdazadeve.h"

namespace cb {

void endProcess(int code) {
    REROdazadeve::finishPendingWorkBeforeExit(kAnalyticsExitBudget);
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace cb
