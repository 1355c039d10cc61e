// The unit tests' fixture: a fresh fake platform and fresh program-wide state, and what must
// hold after every test.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace launcher::test {

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() { ResetProgramState(); }

  // What must hold after every run, whatever happened in it.
  void TearDown() override { EXPECT_EQ(os.ViolatedInvariants(), std::vector<std::string>{}); }

  platform::fake::FakePlatform os;
};

}  // namespace launcher::test
