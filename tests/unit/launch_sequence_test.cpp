#include "launcher/launch_sequence.h"

#include "launcher/error_report.h"
#include "launcher/errors.h"
#include "test_support.h"

namespace launcher::test {
namespace {

using platform::fake::Call;
using platform::fake::FakePlatform;

class LaunchSequenceTest : public LauncherTest {
 protected:
  int IndexOf(const std::string& name) const {
    const auto names = os.CallNames();
    return static_cast<int>(std::find(names.begin(), names.end(), name) - names.begin());
  }
};

TEST_F(LaunchSequenceTest, InstalledRedistributableIsLeftAlone) {
  AddEntry(kWow, "{X}", kRedist);
  EXPECT_EQ(RunLauncher(os), 0);
  EXPECT_EQ(os.Count("ShellExecuteExA"), 0);
  EXPECT_TRUE(os.debugLines.empty());
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
    EXPECT_EQ(RunLauncher(os), 0);
    ASSERT_TRUE(os.shellRequest);
    EXPECT_EQ(os.shellRequest->file, file);
    EXPECT_EQ(os.shellRequest->parameters, "/install /passive /norestart");
    EXPECT_EQ(os.shellRequest->hwnd, nullptr);
    UninstallKeyPath = std::string(kInitialUninstallKeyPath);
  }
  EXPECT_EQ(os.CallsTo("GetModuleFileNameA").at(1).args, (std::vector<std::string>{"0x0", "261"}));
}

TEST_F(LaunchSequenceTest, PathCutByTheSystemStillGivesAFolder) {
  const std::string longPath = "C:\\" + std::string(250, 'd') + "\\" + std::string(20, 'f');
  for (bool withoutNul : {false, true}) {
    os.executablePath = longPath;
    os.cutPathWithoutNul = withoutNul;
    EXPECT_EQ(RunLauncher(os), 0);
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
    EXPECT_EQ(RunLauncher(os), 0);
    EXPECT_EQ(os.debugLines, std::vector<std::string>{kPrefix + text});
    UninstallKeyPath = std::string(kInitialUninstallKeyPath);
  }
}

TEST_F(LaunchSequenceTest, SuccessOrNoStartWritesNothing) {
  for (auto outcome : {FakePlatform::ShellOutcome::kStarts, FakePlatform::ShellOutcome::kFails}) {
    os.shellOutcome = outcome;
    EXPECT_EQ(RunLauncher(os), 0);
    EXPECT_TRUE(os.debugLines.empty());
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
  EXPECT_EQ(RunLauncher(os), 0);
  EXPECT_EQ(os.debugLines, std::vector<std::string>{kPrefix + "259"});
}

TEST_F(LaunchSequenceTest, StartsUpAndShutsDownInOrder) {
  std::optional<std::string> pathAtDestroy;
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "DestroyWindow") pathAtDestroy = UninstallKeyPath;
    return std::nullopt;
  };
  os.threadLocale = 0x0411;
  EXPECT_EQ(RunLauncher(os), 0);
  EXPECT_LT(IndexOf("GetVersionExA"), IndexOf("CreateWindowExA"));
  EXPECT_LT(IndexOf("GetCPInfo"), IndexOf("CreateWindowExA"));
  EXPECT_LT(IndexOf("CreateWindowExA"), IndexOf("RegOpenKeyExA"));
  EXPECT_LT(IndexOf("ShellExecuteExA"), IndexOf("DestroyWindow"));
  EXPECT_EQ(pathAtDestroy, "");  // emptied before the host is released
  EXPECT_TRUE(os.boxes.empty());
  EXPECT_TRUE(LeadByteSet.test(0x81));
}

// Raises an error from inside the named call, as a failure deep in the platform would.
std::function<std::optional<long>(const Call&)> RaiseIn(std::string name, std::string message) {
  return [name, message](const Call& call) -> std::optional<long> {
    if (call.name == name) Raise<Exception>(message);
    return std::nullopt;
  };
}

bool IsRuntimeErrorBox(const FakePlatform::Box& box, int number) {
  const std::string prefix = "Runtime error " + std::to_string(number) + " at ";
  return box.text.size() == prefix.size() + 8 && box.text.starts_with(prefix) &&
         box.text.find_first_not_of("0123456789ABCDEF", prefix.size()) == std::string::npos &&
         box.caption == "Error" && box.type == 0 && box.owner == nullptr;
}

TEST_F(LaunchSequenceTest, RegistryErrorIsReportedAfterItsCleanUps) {
  os.SetValue(kWow + "\\{A}", "DisplayName", win::REG_BINARY, "\x01");
  AddEntry(kWow, "{B}", kRedist);
  std::optional<int> openKeysAtBox;
  std::optional<std::string> pathAtBox, pathAtDestroy;
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "MessageBoxA") {
      openKeysAtBox = os.OpenKeyCount();
      pathAtBox = UninstallKeyPath;
    }
    if (call.name == "DestroyWindow") pathAtDestroy = UninstallKeyPath;
    return std::nullopt;
  };
  EXPECT_EQ(RunLauncher(os), 1);
  ASSERT_EQ(os.boxes.size(), 1u);
  const auto& box = os.boxes[0];
  EXPECT_TRUE(
      box.text.starts_with("Exception ERegistryException dans le module launcher.exe dans "));
  EXPECT_TRUE(
      box.text.ends_with(".\r\nType de donn\xE9"
                         "es incorrect pour 'DisplayName'.\r\n"));
  EXPECT_EQ(box.caption, "Erreur d'application");
  EXPECT_EQ(box.type, 0x2010u);
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(openKeysAtBox, 0) << "the entry's key is closed before the box";
  EXPECT_EQ(pathAtBox, std::string(kInitialUninstallKeyPath));
  EXPECT_EQ(pathAtDestroy, "");
  EXPECT_EQ(os.Count("ShellExecuteExA"), 0);
  EXPECT_TRUE(os.debugLines.empty());
  EXPECT_FALSE(ErrorReportingActive);
}

TEST_F(LaunchSequenceTest, ErrorDuringStartUpEndsWithARuntimeError) {
  struct Case {
    std::function<std::optional<long>(const Call&)> fault;
    int status;
  };
  const Case cases[] = {
      {[](const Call& call) -> std::optional<long> {
         if (call.name == "RegisterClassA") return 0;
         return std::nullopt;
       },
       217},
      {RaiseIn("GetThreadLocale", "x"), 217},
      {[](const Call& call) -> std::optional<long> {
         if (call.name == "LoadStringA") throw std::bad_alloc();  // before reporting started
         return std::nullopt;
       },
       203},
  };
  for (const Case& c : cases) {
    os.boxes.clear();
    os.beforeCall = c.fault;
    EXPECT_EQ(RunLauncher(os), c.status);
    ASSERT_EQ(os.boxes.size(), 1u);
    EXPECT_TRUE(IsRuntimeErrorBox(os.boxes[0], c.status)) << os.boxes[0].text;
    EXPECT_EQ(os.Count("RegOpenKeyExA"), 0);
    EXPECT_FALSE(ErrorReportingActive);
    UninstallKeyPath = std::string(kInitialUninstallKeyPath);
  }
}

TEST_F(LaunchSequenceTest, FailedShutdownStepLetsTheOthersRunThenEndsWith217) {
  os.beforeCall = RaiseIn("DestroyWindow", "x");
  EXPECT_EQ(RunLauncher(os), 217);
  ASSERT_EQ(os.boxes.size(), 1u);
  EXPECT_TRUE(IsRuntimeErrorBox(os.boxes[0], 217));
  EXPECT_FALSE(ErrorReportingActive) << "error reporting's own step still ran";

  // After a report, the runtime error is a second box and its status wins.
  os.boxes.clear();
  UninstallKeyPath = std::string(kInitialUninstallKeyPath);
  os.SetValue(kWow + "\\{A}", "DisplayName", win::REG_DWORD, std::string(4, '\0'));
  EXPECT_EQ(RunLauncher(os), 217);
  ASSERT_EQ(os.boxes.size(), 2u);
  EXPECT_EQ(os.boxes[0].caption, "Erreur d'application");
  EXPECT_TRUE(IsRuntimeErrorBox(os.boxes[1], 217));
}

TEST_F(LaunchSequenceTest, ErrorInTheWindowsOwnHandlingIsShownAndTheWaitGoesOn) {
  os.process = {1603, 3};
  int waits = 0;
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "MsgWaitForMultipleObjectsEx" && ++waits == 1)
      os.PostMessage(os.windows.begin()->first, win::WM_USER);
    if (call.name == "DefWindowProcA" && call.args.at(1) == "0x400") Raise<Exception>("Oups!");
    return std::nullopt;
  };
  EXPECT_EQ(RunLauncher(os), 0);
  ASSERT_EQ(os.boxes.size(), 1u);
  EXPECT_EQ(os.boxes[0].text, "Oups!");
  EXPECT_EQ(os.boxes[0].caption, "launcher");
  EXPECT_EQ(os.boxes[0].type, 0x10u);
  EXPECT_EQ(os.boxes[0].owner, os.windows.begin()->first);
  EXPECT_EQ(os.debugLines, std::vector<std::string>{kPrefix + "1603"});
}

TEST_F(LaunchSequenceTest, ErrorRaisedByThePumpIsReportedAndLeavesTheInstallerRunning) {
  os.process = {0, 5};
  int peeks = 0;
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "PeekMessageA" && ++peeks == 2) Raise<EOutOfResources>("Pompe");
    return std::nullopt;
  };
  EXPECT_EQ(RunLauncher(os), 1);
  ASSERT_EQ(os.boxes.size(), 1u);
  EXPECT_TRUE(os.boxes[0].text.starts_with("Exception EOutOfResources dans le module "));
  EXPECT_FALSE(os.processEnded);
  EXPECT_EQ(os.processHandleCloses, 1);
  EXPECT_TRUE(os.debugLines.empty());
}

}  // namespace
}  // namespace launcher::test
