// One application object (the program's own, ui::TApplication) for a GUI test
// executable, on the offscreen platform unless the environment asks for another. Any
// number of the executable's files may include it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "ui/application.h"

namespace qt_test {

class QtApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "datovrat-test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<ui::TApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<ui::TApplication> app_;
};

inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace qt_test
