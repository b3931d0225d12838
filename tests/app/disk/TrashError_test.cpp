#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/disk/TrashError.h"

namespace {

using cb::TrashError;

TEST(TrashErrorTest, FailedDescribesItselfWithItsMessage) {
    TrashError error = TrashError::failed("could not move to Trash");
    EXPECT_EQ(error.kind(), TrashError::Kind::failed);
    EXPECT_EQ(error.errorDescription(), "could not move to Trash");
}

TEST(TrashErrorTest, PartialSummaryCountsThenListsEachFailureByName) {
    struct Case {
        std::vector<std::filesystem::path> succeeded;
        std::vector<cb::TrashFailure> failed;
        std::string description;
    } cases[] = {
        {{"/a", "/b"}, {}, "Deleted: 2. Failed: 0.\n\n"},
        {{"/x", "/y", "/z"},
         {{"/tmp/a.txt", "file not found"}},
         "Deleted: 3. Failed: 1.\n\n\xE2\x80\xA2 a.txt: file not found"},
        {{},
         {{"/Library/Caches/com.x/", "Permission denied"}, {"rel/b", "user cancelled"}},
         "Deleted: 0. Failed: 2.\n\n\xE2\x80\xA2 com.x: Permission denied\n\xE2\x80\xA2 b: user "
         "cancelled"},
    };
    for (const Case& c : cases) {
        TrashError error = TrashError::partial(c.succeeded, c.failed);
        EXPECT_EQ(error.kind(), TrashError::Kind::partial);
        EXPECT_EQ(error.errorDescription(), c.description);
        EXPECT_EQ(error.failures(), c.failed);
    }
}

}  // namespace
