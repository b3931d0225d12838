#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace cb::testing {

// One QApplication for a whole window test binary (gtest_main owns main()): made before the first
// test and destroyed after the last. Register it once per binary with
// `::testing::AddGlobalTestEnvironment(new WindowEnvironment)`.
class WindowEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "cellarbright_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

}  // namespace cb::testing
