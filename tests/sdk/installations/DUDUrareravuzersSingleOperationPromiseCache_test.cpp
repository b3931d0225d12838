#include "sdk/installations/DUDUrareravuzersSingleOperationPromiseCache.h"

#include <gtest/gtest.h>

#include "sdk/core/RZDException.h"
#include "tests/sdk/installations/InstallationsTestSupport.h"

namespace {

using installationstest::settle;

TEST(DUDUrareravuzersSingleOperationPromiseCacheTest, AMissingHandlerRaises) {
    try {
        DUDUrareravuzersSingleOperationPromiseCache cache(nullptr);
        FAIL() << "made a cache without handler";
    } catch (const RZDException& error) {
        EXPECT_EQ(error.name(), "NSInvalidArgumentException");
        EXPECT_EQ(error.reason(), "`newOperationHandler` must not be `nil`.");
    }
}

TEST(DUDUrareravuzersSingleOperationPromiseCacheTest, OneOperationAtATimeForSuccessAndFailure) {
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails);
        int started = 0;
        std::vector<VPLPromise::Ptr> made;
        DUDUrareravuzersSingleOperationPromiseCache cache([&] {
            ++started;
            made.push_back(VPLPromise::pendingPromise());
            return made.back();
        });
        EXPECT_EQ(cache.getExistingPendingPromise(), nullptr);
        VPLPromise::Ptr first = cache.getExistingPendingOrCreateNewPromise();
        EXPECT_EQ(cache.getExistingPendingOrCreateNewPromise(), first);
        EXPECT_EQ(cache.getExistingPendingPromise(), first);
        EXPECT_EQ(started, 1);

        // The slot is empty by the time a continuation attached afterwards runs.
        VPLPromise::Ptr seenInContinuation;
        VPLPromise::Ptr after =
            first->always([&] { seenInContinuation = cache.getExistingPendingPromise(); });
        if (fails) {
            first->reject(sdk::Error("test", 1, "failed"));
        } else {
            first->fulfill(sdk::Value(1));
        }
        settle(after);
        EXPECT_EQ(seenInContinuation, nullptr);

        VPLPromise::Ptr second = cache.getExistingPendingOrCreateNewPromise();
        EXPECT_NE(second, first);
        EXPECT_EQ(started, 2);
        second->fulfill(sdk::Value(2));
        settle(second);
    }
}

}  // namespace
