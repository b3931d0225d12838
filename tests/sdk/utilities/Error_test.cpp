#include "sdk/utilities/Error.h"

#include <gtest/gtest.h>

namespace sdk {
namespace {

Error failIf(bool fail) {
    if (fail) {
        return Error("com.example.domain", 7, "it broke");
    }
    return Error::OK();
}

Error propagate(bool fail) {
    Error e = failIf(fail);
    if (!e.ok())
        return e;
    return Error::OK();
}

TEST(ErrorTest, SuccessHasNoDomainCodeOrInfo) {
    const Error e = propagate(false);
    EXPECT_TRUE(e.ok());
    EXPECT_EQ(e.domain(), "");
    EXPECT_EQ(e.code(), 0);
    EXPECT_EQ(e.message(), "");
    EXPECT_EQ(e.localizedDescription(), "");
    EXPECT_TRUE(e.userInfo().empty());
    EXPECT_EQ(e.userInfoValue("x"), nullptr);
    EXPECT_EQ(e.ToString(), "OK");
    EXPECT_FALSE(e.is("", 0));
}

TEST(ErrorTest, FailureCarriesDomainCodeMessageAndUserInfo) {
    const Error e("com.vovidu.VDUNSDataZlibErrorDomain", 1025, "incorrect header check",
                  {{"VDUNSDataZlibErrorKey", -3}});
    EXPECT_FALSE(e.ok());
    EXPECT_TRUE(e.is("com.vovidu.VDUNSDataZlibErrorDomain", 1025));
    EXPECT_FALSE(e.is("com.vovidu.VDUNSDataZlibErrorDomain", 1026));
    EXPECT_EQ(e.message(), "incorrect header check");
    EXPECT_EQ(e.localizedDescription(), "incorrect header check");
    ASSERT_NE(e.userInfoValue("VDUNSDataZlibErrorKey"), nullptr);
    EXPECT_EQ(*e.userInfoValue("VDUNSDataZlibErrorKey"), Value(-3));
    EXPECT_EQ(*e.userInfoValue(kLocalizedDescriptionKey), Value("incorrect header check"));
    EXPECT_EQ(e.ToString(),
              "com.vovidu.VDUNSDataZlibErrorDomain error 1025: incorrect header check");
    // Copies share the record and stay equal in content.
    const Error copy = e;
    EXPECT_EQ(copy.ToString(), e.ToString());
    EXPECT_EQ(propagate(true).code(), 7);
}

TEST(ErrorTest, FailureWithoutMessageHasAGenericDescription) {
    const Error e("com.vdu.network.ErrorDomain", 3);
    EXPECT_EQ(e.message(), "");
    EXPECT_EQ(e.localizedDescription(),
              "The operation couldn\u2019t be completed. (com.vdu.network.ErrorDomain error 3.)");
    EXPECT_EQ(e.ToString(), "com.vdu.network.ErrorDomain error 3");
}

}  // namespace
}  // namespace sdk
