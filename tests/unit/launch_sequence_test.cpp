#include "launcher/launch_sequence.h"

#include <map>
#include <new>

#include "launcher/error_report.h"
#include "launcher/errors.h"
#include "launcher_test.h"

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

  // While the installer runs, a message reaches the application window and its own handling
  // raises an error with this message.
  void RaiseInTheWindowsHandlingDuringTheWait(const char* message) {
    os.beforeCall = [this, message, waits = 0](const Call& call) mutable -> std::optional<long> {
      if (call.name == "MsgWaitForMultipleObjectsEx" && ++waits == 1)
        os.PostMessage(os.windows.begin()->first, win::WM_USER);
      if (call.name == "DefWindowProcA" && call.args.at(1) == "0x400") Raise<Exception>(message);
      return std::nullopt;
    };
  }
};

TEST_F(LaunchSequenceTest, InstalledRedistributableIsLeftAlone) {
  AddEntry(os, kWow, "{X}", kRedist);
  EXPECT_EQ(RunLauncher(os), 0);
  EXPECT_EQ(os.Count("ShellExecuteExW"), 0);
  EXPECT_TRUE(os.debugLines.empty());
  // Only the window title reads the module's name; the installer's path is never built.
  EXPECT_EQ(os.Count("GetModuleFileNameW"), 0);
  EXPECT_EQ(os.Count("GetModuleFileNameA"), 1);
}

TEST_F(LaunchSequenceTest, MissingRedistributableStartsTheInstallerBesideTheExecutable) {
  // The longest installer path the shell takes quoted, 257 characters; and a longer path to
  // the executable itself, which takes a second buffer.
  const std::u16string longestFolder = u"C:\\" + std::u16string(236, u'd') + u"\\";
  const std::u16string longFolder = u"C:\\" + std::u16string(200, u'd') + u"\\";
  struct Case {
    std::string ansiPath;  // as GetModuleFileNameA gives it
    std::u16string path;
    std::u16string file;
    std::vector<std::string> bufferSizes = {"261"};
  };
  const Case cases[] = {
      {"C:\\Tools\\launcher.exe", u"C:\\Tools\\launcher.exe", u"\"C:\\Tools\\vc_redist.x86.exe\""},
      {"C:\\launcher.exe", u"C:\\launcher.exe", u"\"C:\\vc_redist.x86.exe\""},
      {"", u"\\\\server\\share\\tools\\launcher.exe",
       u"\"\\\\server\\share\\tools\\vc_redist.x86.exe\""},
      {"", u"C:\\Program Files\\My Tools\\launcher.exe",
       u"\"C:\\Program Files\\My Tools\\vc_redist.x86.exe\""},
      // A folder named with a letter of the ANSI code page, and one that it cannot hold.
      {"C:\\Outils\\Caf\xE9\\launcher.exe", u"C:\\Outils\\Café\\launcher.exe",
       u"\"C:\\Outils\\Café\\vc_redist.x86.exe\""},
      {"C:\\Users\\????\\launcher.exe", u"C:\\Users\\Олег\\launcher.exe",
       u"\"C:\\Users\\Олег\\vc_redist.x86.exe\""},
      {"", longestFolder + u"launcher.exe", u"\"" + longestFolder + u"vc_redist.x86.exe\""},
      {"",
       longFolder + std::u16string(60, u'n') + u".exe",
       u"\"" + longFolder + u"vc_redist.x86.exe\"",
       {"261", "522"}},
  };
  for (const Case& c : cases) {
    os.executablePath = c.ansiPath;
    os.executablePathW = c.path;
    os.calls.clear();
    EXPECT_EQ(RunLauncher(os), 0);
    ASSERT_TRUE(os.shellRequest);
    EXPECT_EQ(os.shellRequest->file, c.file) << platform::fake::Utf8(c.path);
    EXPECT_EQ(os.shellRequest->parameters, u"/install /passive /norestart");
    EXPECT_EQ(os.shellRequest->hwnd, nullptr);
    std::vector<std::string> sizes;
    for (const Call& call : os.CallsTo("GetModuleFileNameW")) {
      EXPECT_EQ(call.args.at(0), "0x0");
      sizes.push_back(call.args.at(1));
    }
    EXPECT_EQ(sizes, c.bufferSizes);
    ResetProgramState();
  }
}

TEST_F(LaunchSequenceTest, WithoutAPlainlyAbsoluteFolderNothingIsStarted) {
  // The shell would look for a bare name in the current folder, then on the PATH; for a
  // drive-relative one in that drive's current folder; a device or raw path, a stream, or a
  // path it cannot take whole is no folder to start an installer from.
  const std::u16string tooLong = u"C:\\" + std::u16string(237, u'd') + u"\\launcher.exe";
  struct Case {
    const char* what;
    std::u16string path;
    std::optional<win::DWORD> readError;  // GetModuleFileNameW fails with it
    win::DWORD reason;
  };
  const Case cases[] = {
      {"path unreadable", u"C:\\Tools\\launcher.exe", win::ERROR_ACCESS_DENIED, 5},
      {"path unreadable, no error given", u"C:\\Tools\\launcher.exe", 0, 161},
      {"empty path", u"", std::nullopt, 161},
      {"no delimiter", std::u16string(260, u'x'), std::nullopt, 161},
      {"no delimiter, longer than the first buffer", std::u16string(300, u'x'), std::nullopt, 161},
      {"drive-relative", u"C:launcher.exe", std::nullopt, 161},
      {"drive-relative, in a sub-folder", u"C:Tools\\launcher.exe", std::nullopt, 161},
      {"rooted without a drive", u"\\Tools\\launcher.exe", std::nullopt, 161},
      {"forward slashes", u"C:/Tools/launcher.exe", std::nullopt, 161},
      {"a raw path", u"\\\\?\\C:\\Tools\\launcher.exe", std::nullopt, 161},
      {"a raw network path", u"\\\\?\\UNC\\server\\share\\launcher.exe", std::nullopt, 161},
      {"a device path", u"\\\\.\\C:\\Tools\\launcher.exe", std::nullopt, 161},
      {"no server name", u"\\\\\\share\\launcher.exe", std::nullopt, 161},
      {"a stream of a file", u"C:\\Tools\\launcher.exe:launcher.exe", std::nullopt, 161},
      {"one character too long for the shell", tooLong, std::nullopt, 206},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    os.executablePathW = c.path;
    os.debugLines.clear();
    os.calls.clear();
    os.beforeCall = nullptr;
    if (c.readError)
      os.InjectAt({.call = "GetModuleFileNameW", .fail = 0, .lastError = *c.readError});
    EXPECT_EQ(RunLauncher(os), 0);
    EXPECT_EQ(os.debugLines, std::vector<std::string>{kStartFailed + std::to_string(c.reason)});
    EXPECT_EQ(os.Count("CreateFileW") + os.Count("ShellExecuteExW"), 0);
    EXPECT_TRUE(os.boxes.empty());
    ResetProgramState();
  }
}

TEST_F(LaunchSequenceTest, OneCodePageForEveryByteWiseScan) {
  // Lead bytes come from the system's ANSI code page, whatever the user's formats: 1252 here,
  // though the fake knows the lead bytes of 932, in which 0xE9 0x5C would be one character.
  os.ansiCodePage = 1252;
  os.executablePath = "C:\\Outils\\Caf\xE9\\launcher.exe";
  os.executablePathW = u"C:\\Outils\\Caf\u00E9\\launcher.exe";
  AddEntry(os, kWow, "{ABCD}", "Other product");  // 6 characters
  EXPECT_EQ(RunLauncher(os), 0);
  EXPECT_EQ(os.shellRequest->file, u"\"C:\\Outils\\Caf\u00E9\\vc_redist.x86.exe\"");
  EXPECT_EQ(os.windows.begin()->second.title, "launcher");
  EXPECT_EQ(os.CallsTo("RegEnumKeyExA").at(0).args.at(2), "7") << "name buffer doubled";
}

TEST_F(LaunchSequenceTest, NameBufferFollowsThePlatformReadAtStartUp) {
  AddEntry(os, kWow, "{ABCD}", "Other product");  // 6 characters
  os.ansiCodePage = 932;
  const std::pair<win::DWORD, std::string> cases[] = {
      {win::VER_PLATFORM_WIN32_NT, "13"},  // doubled: an ANSI name may take two bytes a character
      {1, "7"},                            // VER_PLATFORM_WIN32_WINDOWS: Windows 9x
  };
  for (const auto& [platformId, enumSize] : cases) {
    os.platformId = platformId;
    os.calls.clear();
    EXPECT_EQ(RunLauncher(os), 0);
    EXPECT_EQ(os.CallsTo("RegEnumKeyExA").at(0).args.at(2), enumSize) << platformId;
    ResetProgramState();
  }
}

TEST_F(LaunchSequenceTest, InstallerThatCannotStartLeavesOneDebuggerLine) {
  for (win::DWORD reason : {2u, 5u, 1223u, 0x80000000u, 0xFFFFFFFFu}) {
    os.shellOutcome = FakePlatform::ShellOutcome::kFails;
    os.shellError = reason;
    os.debugLines.clear();
    EXPECT_EQ(RunLauncher(os), 0);
    EXPECT_EQ(os.debugLines, std::vector<std::string>{kStartFailed + std::to_string(reason)});
    EXPECT_TRUE(os.boxes.empty());
    ResetProgramState();
  }
  // The exact bytes, against the resource script itself: a number of 2^31 or more is unsigned.
  EXPECT_EQ(os.debugLines.at(0), "Impossible de lancer l'installation : 4294967295");
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
    ResetProgramState();
  }
}

TEST_F(LaunchSequenceTest, SuccessOrAStartWithoutHandleWritesNothing) {
  for (auto outcome :
       {FakePlatform::ShellOutcome::kStarts, FakePlatform::ShellOutcome::kStartsWithoutHandle}) {
    os.shellOutcome = outcome;
    EXPECT_EQ(RunLauncher(os), 0);
    EXPECT_TRUE(os.debugLines.empty());
    ResetProgramState();
  }
}

TEST_F(LaunchSequenceTest, WaitGivenUpAtLogOffIsReportedAs259) {
  os.process = {0, -1};
  os.InjectAt({.call = "MsgWaitForMultipleObjectsEx", .action = [&] {
                 os.SendFromOtherThread(os.windows.begin()->first, win::WM_ENDSESSION, 1);
               }});
  EXPECT_EQ(RunLauncher(os), 0);
  EXPECT_EQ(os.debugLines, std::vector<std::string>{kPrefix + "259"});
}

TEST_F(LaunchSequenceTest, StartsUpAndShutsDownInOrder) {
  std::optional<std::string> pathAtDestroy;
  // The phase that an error which cannot be unwound is reported in, by call.
  std::map<std::string, bool> mainRoutineRunning;
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "DestroyWindow") pathAtDestroy = State.UninstallKeyPath;
    for (const char* name :
         {"CreateWindowExA", "RegOpenKeyExA", "ShellExecuteExW", "DestroyWindow"})
      if (call.name == name) mainRoutineRunning.try_emplace(call.name, State.MainRoutineRunning);
    return std::nullopt;
  };
  os.ansiCodePage = 932;
  EXPECT_EQ(RunLauncher(os), 0);
  EXPECT_LT(IndexOf("GetVersionExA"), IndexOf("CreateWindowExA"));
  EXPECT_LT(IndexOf("GetCPInfo"), IndexOf("CreateWindowExA"));
  EXPECT_LT(IndexOf("CreateWindowExA"), IndexOf("RegOpenKeyExA"));
  EXPECT_LT(IndexOf("ShellExecuteExW"), IndexOf("DestroyWindow"));
  EXPECT_EQ(pathAtDestroy, "");  // emptied before the host is released
  EXPECT_EQ(mainRoutineRunning, (std::map<std::string, bool>{{"CreateWindowExA", false},
                                                             {"RegOpenKeyExA", true},
                                                             {"ShellExecuteExW", true},
                                                             {"DestroyWindow", false}}));
  EXPECT_TRUE(os.boxes.empty());
  EXPECT_TRUE(State.LeadByteSet.test(0x81));
}

// Raises an error from inside the named call, as a failure deep in the platform would.
std::function<std::optional<long>(const Call&)> RaiseIn(std::string name, std::string message) {
  return [name, message](const Call& call) -> std::optional<long> {
    if (call.name == name) Raise<Exception>(message);
    return std::nullopt;
  };
}

// Throws a C++ exception that is neither the launcher's nor memory running out from inside the
// named call, as a library's code might.
std::function<std::optional<long>(const Call&)> ThrowForeignIn(std::string name) {
  return [name](const Call& call) -> std::optional<long> {
    if (call.name == name) throw std::runtime_error("foreign");
    return std::nullopt;
  };
}

// Runs out of memory inside the named call, as operator new does: through the new-handler when
// one is set, with std::bad_alloc otherwise.
std::function<std::optional<long>(const Call&)> ExhaustMemoryIn(std::string name) {
  return [name](const Call& call) -> std::optional<long> {
    if (call.name != name) return std::nullopt;
    if (const std::new_handler handler = std::get_new_handler()) handler();
    throw std::bad_alloc();
  };
}

TEST_F(LaunchSequenceTest, RegistryErrorIsReportedAfterItsCleanUps) {
  os.SetValue(kWow + "\\{A}", "DisplayName", win::REG_BINARY, "\x01");
  AddEntry(os, kWow, "{B}", kRedist);
  std::optional<int> openKeysAtBox;
  std::optional<std::string> pathAtBox, pathAtDestroy;
  os.beforeCall = [&](const Call& call) -> std::optional<long> {
    if (call.name == "MessageBoxA") {
      openKeysAtBox = os.OpenKeyCount();
      pathAtBox = State.UninstallKeyPath;
    }
    if (call.name == "DestroyWindow") pathAtDestroy = State.UninstallKeyPath;
    return std::nullopt;
  };
  EXPECT_EQ(RunLauncher(os), 1);
  ASSERT_EQ(os.boxes.size(), 1u);
  const auto& box = os.boxes[0];
  EXPECT_TRUE(
      box.text.starts_with("Exception ERegistryException dans le module launcher.exe dans "));
  EXPECT_TRUE(box.text.ends_with(".\r\n" + kWrongType + ".\r\n"));
  EXPECT_EQ(box.caption, kReportTitle);
  EXPECT_EQ(box.type, 0x2010u);
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(openKeysAtBox, 0) << "the entry's key is closed before the box";
  EXPECT_EQ(pathAtBox, std::string(kInitialUninstallKeyPath));
  EXPECT_EQ(pathAtDestroy, "");
  EXPECT_EQ(os.Count("ShellExecuteExW"), 0);
  EXPECT_TRUE(os.debugLines.empty());
  EXPECT_FALSE(State.ErrorReportingActive);
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
      {RaiseIn("GetACP", "x"), 217},
      {ExhaustMemoryIn("LoadStringA"), 203},  // before error reporting has started
      {ExhaustMemoryIn("GetVersionExA"), 217},
      {ExhaustMemoryIn("GetACP"), 217},
      {ExhaustMemoryIn("CreateWindowExA"), 217},
      {ExhaustMemoryIn("SetWindowLongA"), 217},
      {ThrowForeignIn("GetVersionExA"), 217},
      {ThrowForeignIn("CreateWindowExA"), 217},
  };
  for (const Case& c : cases) {
    os.boxes.clear();
    os.beforeCall = c.fault;
    EXPECT_EQ(RunLauncher(os), c.status);
    ASSERT_EQ(os.boxes.size(), 1u);
    EXPECT_TRUE(IsRuntimeErrorBox(os.boxes[0], c.status)) << os.boxes[0].text;
    EXPECT_EQ(os.Count("RegOpenKeyExA"), 0);
    EXPECT_FALSE(State.ErrorReportingActive);
    ResetProgramState();
  }
}

TEST_F(LaunchSequenceTest, FailedShutdownStepLetsTheOthersRunThenEndsWith217) {
  for (const auto& raise : {RaiseIn("DestroyWindow", "x"), ExhaustMemoryIn("DestroyWindow"),
                            ThrowForeignIn("DestroyWindow")}) {
    // The phase the shutdown's error is reported in: never the main routine's, whether the
    // routine ended normally or by an error.
    std::vector<bool> mainRoutineRunning;
    const auto fault = [&](const Call& call) {
      if (call.name == "DestroyWindow") mainRoutineRunning.push_back(State.MainRoutineRunning);
      return raise(call);
    };
    os.boxes.clear();
    os.beforeCall = fault;
    EXPECT_EQ(RunLauncher(os), 217);
    ASSERT_EQ(os.boxes.size(), 1u);
    EXPECT_TRUE(IsRuntimeErrorBox(os.boxes[0], 217));
    EXPECT_FALSE(State.ErrorReportingActive) << "error reporting's own step still ran";

    // After a report, the runtime error is a second box and its status wins.
    os.boxes.clear();
    ResetProgramState();
    os.SetValue(kWow + "\\{A}", "DisplayName", win::REG_DWORD, std::string(4, '\0'));
    EXPECT_EQ(RunLauncher(os), 217);
    ASSERT_EQ(os.boxes.size(), 2u);
    EXPECT_EQ(os.boxes[0].caption, kReportTitle);
    EXPECT_TRUE(IsRuntimeErrorBox(os.boxes[1], 217));
    EXPECT_EQ(mainRoutineRunning, (std::vector<bool>{false, false}));
    os.DeleteKey(kWow + "\\{A}");
    ResetProgramState();
  }
}

TEST_F(LaunchSequenceTest, ErrorInTheWindowsOwnHandlingIsShownAndTheWaitGoesOn) {
  os.process = {1603, 3};
  RaiseInTheWindowsHandlingDuringTheWait("Oups!");
  EXPECT_EQ(RunLauncher(os), 0);
  ASSERT_EQ(os.boxes.size(), 1u);
  EXPECT_EQ(os.boxes[0].text, "Oups!");
  EXPECT_EQ(os.boxes[0].caption, "launcher");
  EXPECT_EQ(os.boxes[0].type, 0x10u);
  EXPECT_EQ(os.boxes[0].owner, os.windows.begin()->first);
  EXPECT_EQ(os.debugLines, std::vector<std::string>{kPrefix + "1603"});
}

// Stands for the thread's exception chain on Windows: catch scopes link their records on it,
// and a raised error is offered to the system's filter, where a debugger sees it, only when no
// catch scope would take it.
struct ExceptionChain {
  static inline std::vector<void*> records;
  struct Offer {
    std::string message;
    std::uintptr_t address;
  };
  static inline std::vector<Offer> offered;

  ExceptionChain() {
    records.clear();
    offered.clear();
    Install();
  }
  // Again after a reset of the program-wide state, which removes the hooks.
  static void Install() {
    CatchScope::SetHooks([](void* record) { records.push_back(record); },
                         [](void* record) {
                           ASSERT_FALSE(records.empty());
                           EXPECT_EQ(records.back(), record) << "a record left out of order";
                           records.pop_back();
                         });
    SetRaiseHook([](Exception* error) {
      if (records.empty()) offered.push_back({error->Message(), error->RaiseAddress()});
    });
  }
  ~ExceptionChain() {
    SetRaiseHook(nullptr);
    CatchScope::SetHooks(nullptr, nullptr);
  }
};

TEST_F(LaunchSequenceTest, OnlyErrorsThatNothingCatchesReachADebugger) {
  const ExceptionChain chain;
  // An error in the window's own handling is caught there: a debugger never hears of it.
  os.process = {0, 2};
  RaiseInTheWindowsHandlingDuringTheWait("Oups");
  EXPECT_EQ(RunLauncher(os), 0);
  ASSERT_EQ(os.boxes.size(), 1u);
  EXPECT_EQ(os.boxes[0].text, "Oups.");
  EXPECT_TRUE(ExceptionChain::offered.empty());
  EXPECT_TRUE(ExceptionChain::records.empty()) << "a catch scope left linked";

  // An error in the check is offered with the address that the report then shows (as an
  // offset from the program's code section, its address being in no module).
  os.boxes.clear();
  os.beforeCall = nullptr;
  ResetProgramState();
  ExceptionChain::Install();
  os.SetValue(kWow + "\\{A}", "DisplayName", win::REG_DWORD, std::string(4, '\0'));
  EXPECT_EQ(RunLauncher(os), 1);
  ASSERT_EQ(ExceptionChain::offered.size(), 1u);
  EXPECT_EQ(ExceptionChain::offered[0].message, kWrongType);
  char shown[9];
  std::snprintf(shown, sizeof shown, "%08X",
                static_cast<unsigned>(ExceptionChain::offered[0].address - 0x1000));
  ASSERT_EQ(os.boxes.size(), 1u);
  EXPECT_NE(os.boxes[0].text.find(std::string(" dans ") + shown + ".\r\n"), std::string::npos)
      << os.boxes[0].text;
}

TEST_F(LaunchSequenceTest, ErrorRaisedByThePumpIsReportedAndLeavesTheInstallerRunning) {
  os.process = {0, 5};
  os.InjectAt(
      {.call = "PeekMessageA", .nth = 2, .action = [] { Raise<EOutOfResources>("Pompe"); }});
  EXPECT_EQ(RunLauncher(os), 1);
  ASSERT_EQ(os.boxes.size(), 1u);
  EXPECT_TRUE(os.boxes[0].text.starts_with("Exception EOutOfResources dans le module "));
  EXPECT_FALSE(os.processEnded);
  EXPECT_EQ(os.processHandleCloses, 1);
  EXPECT_TRUE(os.debugLines.empty());
}

}  // namespace
}  // namespace launcher::test
