#include "sdk/utilities/AssertionHandler.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace sdk {
namespace {

TEST(AssertionHandlerTest, DefaultThrowsAndAnInstalledHandlerReceivesTheReport) {
    try {
        handleInvalidParameter("VPLPromise", "queue");
        FAIL() << "no exception";
    } catch (const InternalInconsistencyException& e) {
        EXPECT_STREQ(e.what(), "Invalid parameter not satisfying: queue");
    }
    std::string seenFile, seenMessage;
    AssertionHandler previous =
        setCurrentThreadAssertionHandler([&](std::string_view file, const std::string& message) {
            seenFile = file;
            seenMessage = message;
        });
    EXPECT_FALSE(previous);
    handleAssertionFailure("VDUNSData+zlib", "it happened");
    EXPECT_EQ(seenFile, "VDUNSData+zlib");
    EXPECT_EQ(seenMessage, "it happened");
    // The handler belongs to this thread only.
    bool otherThrew = false;
    std::thread([&] {
        try {
            handleAssertionFailure("f", "m");
        } catch (const InternalInconsistencyException&) {
            otherThrew = true;
        }
    }).join();
    EXPECT_TRUE(otherThrew);
    (void)setCurrentThreadAssertionHandler(nullptr);
    EXPECT_THROW(handleAssertionFailure("f", "m"), InternalInconsistencyException);
}

}  // namespace
}  // namespace sdk
