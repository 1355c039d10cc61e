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
  void TearDown() override {
    EXPECT_EQ(os.OpenKeyCount(), 0) << "a registry key was left open";
    EXPECT_FALSE(os.rootKeyClosed);
    EXPECT_EQ(os.invalidCloses, 0);
    EXPECT_FALSE(os.processHandleOpen) << "the installer's handle was left open";
    EXPECT_FALSE(os.blockedForever) << "a wait that nothing could end";
    EXPECT_FALSE(os.installerFileOpen) << "the installer's file was left open";
    EXPECT_TRUE(os.loadedLibraries.empty()) << "a library was left loaded";
    EXPECT_FALSE(os.trustStateOpen) << "a verify's state was not released";
    EXPECT_FALSE(os.hashOpen || os.hashProviderOpen) << "a hash or its provider was left open";
  }

  platform::fake::FakePlatform os;
};

}  // namespace launcher::test
