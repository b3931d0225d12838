#include "platform/storekit/StoreProductsRequester.h"

#include <mutex>

namespace platform {
namespace {

struct SharedRequester {
    std::mutex mutex;
    std::shared_ptr<StoreProductsRequester> requester;  // guarded by mutex
};

SharedRequester& sharedRequester() {
    static SharedRequester* const shared = new SharedRequester();  // lives for the process
    return *shared;
}

}  // namespace

std::shared_ptr<StoreProductsRequester> StoreProductsRequester::shared() {
    SharedRequester& s = sharedRequester();
    std::lock_guard lock(s.mutex);
    return s.requester;
}

void StoreProductsRequester::TEST_setShared(std::shared_ptr<StoreProductsRequester> requester) {
    SharedRequester& s = sharedRequester();
    std::lock_guard lock(s.mutex);
    s.requester = std::move(requester);
}

}  // namespace platform
