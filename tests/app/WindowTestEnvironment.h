#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <memory>

#include "tests/support/TempDir.h"

namespace cb::testing {

// One QApplication for a whole window test binary (gtest_main owns main()): made before the first
// test and destroyed after the last. Register it once per binary with
// `::testing::AddGlobalTestEnvironment(new WindowEnvironment)`. XDG_DATA_HOME and
// XDG_CONFIG_HOME point into a temporary folder meanwhile, so what a window test makes the SDK
// write (heartbeats, switches) stays out of the user's folders.
class WindowEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        folders_ = std::make_unique<testsupport::TempDir>("cb-window-user");
        setenv("XDG_DATA_HOME", (folders_->path() / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (folders_->path() / "config").c_str(), 1);
        static int argc = 1;
        static char name[] = "cellarbright_test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        app_.reset();
        folders_.reset();
    }

  private:
    std::unique_ptr<testsupport::TempDir> folders_;
    std::unique_ptr<QApplication> app_;
};

}  // namespace cb::testing
