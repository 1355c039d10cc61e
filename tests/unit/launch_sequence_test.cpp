#include "launcher/launch_sequence.h"

#include "launcher/errors.h"
#include "test_support.h"

namespace launcher::test {
namespace {

using platform::fake::Call;
using platform::fake::FakePlatform;

const std::string kPrefix = "Erreur lors de l'installation : ";

class LaunchSequenceTest : public LauncherTest {
 protected:
  int IndexOf(const std::string& name) const {
    const auto names = os.CallNames();
    return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
  }
};

TEST_F(LaunchSequenceTest, InstalledRedistributableIsLeftAlone) {
  AddEntry(kWow, "{X}", kRedist);
  RunLauncher(os);
  EXPECT_EQ(os.Count("ShellExecuteExA"), 0);
  EXPECT_TRUE(os.debugLines.empty());
  EXPECT_EQ(os.exitStatus, 0u);
  // Only the window title reads the module's name; the installer's path is never built.
  EXPECT_EQ(os.Count("GetModuleFileNameA"), 1);
  EXPECT_EQ(os.CallsTo("GetModuleFileNameA").at(0).args.at(1), "256");
}

TEST_F(LaunchSequenceTest, MissingRedistributableStartsTheInstallerBesideTheExecutable) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Tools\\launcher.exe", "\"C:\\Tools\\vc_redist.x86.exe\""},
      {"C:\\launcher.exe", "\"C:\\vc_redist.x86.exe\""},
      {"\\\\server\\share\\tools\\launcher.exe", "\"\\\\server\\share\\tools\\vc_redist.x86.exe\""},
      {"C:\\Program Files\\My Tools\\launcher.exe",
       "\"C:\\Program Files\\My Tools\\vc_redist.x86.exe\""},
      {"", "\"vc_redist.x86.exe\""},
  };
  for (const auto& [path, file] : cases) {
    os.executablePath = path;
    RunLauncher(os);
    ASSERT_TRUE(os.shellRequest);
    EXPECT_EQ(os.shellRequest->file, file);
    EXPECT_EQ(os.shellRequest->parameters, "/install /passive /norestart");
    EXPECT_EQ(os.shellRequest->hwnd, nullptr);
    EXPECT_EQ(os.exitStatus, 0u);
    UninstallKeyPath = std::string(kInitialUninstallKeyPath);
  }
  EXPECT_EQ(os.CallsTo("GetModuleFileNameA").at(1).args, (std::vector<std::string>{"0x0", "261"}));
}

TEST_F(LaunchSequenceTest, PathCutByTheSystemStillGivesAFolder) {
  const std::string longPath = "C:\\" + std::string(250, 'd') + "\\" + std::string(20, 'f');
  for (bool withoutNul : {false, true}) {
    os.executablePath = longPath;
    os.cutPathWithoutNul = withoutNul;
    RunLauncher(os);
    EXPECT_EQ(os.shellRequest->file, "\"C:\\" + std::string(250, 'd') + "\\vc_redist.x86.exe\"");
    UninstallKeyPath = std::string(kInitialUninstallKeyPath);
  }
}

TEST_F(LaunchSequenceTest, NonZeroInstallerCodeIsOneDebuggerLine) {
  const std::pair<win::DWORD, std::string> cases[] = {{1603, "1603"},
                                                      {3010, "3010"},
                                                      {1, "1"},
                                                      {0xC0000005, "-1073741819"},
                                                      {0x80000000, "-2147483648"}};
  for (const auto& [code, text] : cases) {
    os.process = {code, 0};
    os.debugLines.clear();
    RunLauncher(os);
    EXPECT_EQ(os.debugLines, std::vector<std::string>{kPrefix + text});
    EXPECT_EQ(os.exitStatus, 0u);
    UninstallKeyPath = std::string(kInitialUninstallKeyPath);
  }
}

TEST_F(LaunchSequenceTest, SuccessOrNoStartWritesNothing) {
  for (auto outcome : {FakePlatform::ShellOutcome::kStarts, FakePlatform::ShellOutcome::kFails}) {
    os.shellOutcome = outcome;
    RunLauncher(os);
    EXPECT_TRUE(os.debugLines.empty());
    EXPECT_EQ(os.exitStatus, 0u);
    UninstallKeyPath = std::string(kInitialUninstallKeyPath);
  }
}

TEST_F(LaunchSequenceTest, WaitGivenUpAtLogOffIsReportedAs259) {
  os.process = {0, -1};
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "MsgWaitForMultipleObjectsEx")
      os.SendFromOtherThread(os.windows.begin()->first, win::WM_ENDSESSION, 1);
    return std::nullopt;
  };
  RunLauncher(os);
  EXPECT_EQ(os.debugLines, std::vector<std::string>{kPrefix + "259"});
  EXPECT_EQ(os.exitStatus, 0u);
}

TEST_F(LaunchSequenceTest, StartsUpAndShutsDownInOrder) {
  std::optional<std::string> pathAtDestroy;
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "DestroyWindow") pathAtDestroy = UninstallKeyPath;
    return std::nullopt;
  };
  os.threadLocale = 0x0411;
  RunLauncher(os);
  EXPECT_LT(IndexOf("GetVersionExA"), IndexOf("CreateWindowExA"));
  EXPECT_LT(IndexOf("GetCPInfo"), IndexOf("CreateWindowExA"));
  EXPECT_LT(IndexOf("CreateWindowExA"), IndexOf("RegOpenKeyExA"));
  EXPECT_LT(IndexOf("ShellExecuteExA"), IndexOf("DestroyWindow"));
  EXPECT_EQ(pathAtDestroy, "");  // emptied before the host is released
  EXPECT_EQ(os.CallNames().back(), "ExitProcess");
  EXPECT_EQ(os.exitStatus, 0u);
  EXPECT_TRUE(LeadByteSet.test(0x81));
}

TEST_F(LaunchSequenceTest, RegistryErrorStopsBeforeAnyInstallerOrLine) {
  os.SetValue(kWow + "\\{A}", "DisplayName", win::REG_BINARY, "\x01");
  EXPECT_THROW(RunLauncher(os), ERegistryException);
  EXPECT_EQ(os.Count("ShellExecuteExA"), 0);
  EXPECT_TRUE(os.debugLines.empty());
  EXPECT_EQ(os.windows.begin()->second.destroyed, true);
}

}  // namespace
}  // namespace launcher::test
