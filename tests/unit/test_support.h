// Set-up shared by the unit tests: a fresh fake platform and fresh program-wide state.
#pragma once

#include <gtest/gtest.h>

#include "launcher/launch_sequence.h"
#include "launcher/lead_bytes.h"
#include "launcher/presence_check.h"
#include "tests/fake/fake_platform.h"

namespace launcher::test {

inline const std::string kWow =
    "HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline const std::string kNative = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Spelled out here, so that a wrong byte in the launcher's own text fails the tests.
inline const std::string kRedist =
    "Microsoft Visual C++ 2015-2022 Redistributable (x86) - 14.34.31931";
// The uninstall key as the registry calls receive it: below HKLM, ending in a backslash.
inline const std::string kWowSubKey =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The launcher's texts, in Windows-1252.
inline const std::string kPrefix = "Erreur lors de l'installation : ";
inline const std::string kStartFailed = "Impossible de lancer l'installation : ";
inline const std::string kWrongType =
    "Type de donn\xE9"
    "es incorrect pour 'DisplayName'";
inline const std::string kReadFailed =
    "Echec \xE0 l'obtention des donn\xE9"
    "es pour 'DisplayName'";

class LauncherTest : public ::testing::Test {
 protected:
  LauncherTest() {
    UninstallKeyPath = std::string(kInitialUninstallKeyPath);
    LeadByteSet.reset();
    PlatformIsNT = true;
    ExitStatus = 0;
  }

  // What must hold after every run, whatever happened in it.
  void TearDown() override {
    EXPECT_EQ(os.OpenKeyCount(), 0) << "a registry key was left open";
    EXPECT_FALSE(os.rootKeyClosed);
    EXPECT_EQ(os.invalidCloses, 0);
    EXPECT_FALSE(os.processHandleOpen) << "the installer's handle was left open";
    EXPECT_FALSE(os.blockedForever) << "a wait that nothing could end";
  }

  void AddEntry(const std::string& root, const std::string& name, const std::string& displayName,
                win::DWORD type = win::REG_SZ) {
    os.SetString(root + "\\" + name, "DisplayName", displayName, type);
  }

  platform::fake::FakePlatform os;
};

}  // namespace launcher::test
