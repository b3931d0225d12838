#include "sdk/utilities/VDUClassRegistry.h"

#include <gtest/gtest.h>

namespace {

// An interface a named class may also have, asked for as a selector would be.
class Greeter {
  public:
    virtual ~Greeter() = default;
    virtual std::string greet() const = 0;
};

class PlainClass : public virtual VDUClass {
  public:
    explicit PlainClass(std::string name) : name_(std::move(name)) {}
    std::string className() const override { return name_; }

  private:
    std::string name_;
};

class GreetingClass : public PlainClass, public Greeter {
  public:
    GreetingClass() : PlainClass("TestGreeting") {}
    std::string greet() const override { return "hello"; }
    std::optional<std::string> sdkVersion() const override { return "2.0"; }
};

TEST(VDUClassRegistryTest, NamesMapToOneClassAndItsInterfaces) {
    auto greeting = std::make_shared<GreetingClass>();
    auto plain = std::make_shared<PlainClass>("TestPlain");
    ASSERT_TRUE(VDUClassRegistry::registerClass(greeting));
    ASSERT_TRUE(VDUClassRegistry::registerClass(plain));
    EXPECT_TRUE(VDUClassRegistry::registerClass(greeting));  // the same object again
    EXPECT_FALSE(VDUClassRegistry::registerClass(std::make_shared<PlainClass>("TestPlain")));
    EXPECT_FALSE(VDUClassRegistry::registerClass(std::make_shared<PlainClass>("")));
    EXPECT_FALSE(VDUClassRegistry::registerClass(nullptr));

    EXPECT_EQ(VDUClassRegistry::classNamed("TestPlain"), plain);  // the first one stayed
    EXPECT_EQ(VDUClassRegistry::classNamed("TestMissing"), nullptr);
    std::shared_ptr<const Greeter> greeter = VDUClassRegistry::classNamed<Greeter>("TestGreeting");
    ASSERT_NE(greeter, nullptr);
    EXPECT_EQ(greeter->greet(), "hello");
    EXPECT_EQ(VDUClassRegistry::classNamed<Greeter>("TestPlain"), nullptr);  // no such interface
    EXPECT_EQ(VDUClassRegistry::classNamed("TestGreeting")->sdkVersion(), "2.0");
    EXPECT_EQ(plain->sdkVersion(), std::nullopt);
    EXPECT_EQ(VDUClassRegistry::registeredClassNames(),
              (std::vector<std::string>{"TestGreeting", "TestPlain"}));

    VDUClassRegistry::TEST_unregisterClass("TestPlain");
    VDUClassRegistry::TEST_unregisterClass("TestGreeting");
    EXPECT_EQ(VDUClassRegistry::classNamed("TestPlain"), nullptr);
}

}  // namespace
