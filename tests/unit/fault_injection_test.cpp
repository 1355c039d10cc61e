// Whole runs of the launcher with one platform call failing as Windows fails it, or answering
// with a legal but unusual result: whatever happens, the run must end with a documented status,
// release every key and handle, start the installer at most once, and reach the outcome that
// the failure rules give.
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <string_view>

#include "launcher/error_report.h"
#include "launcher_test.h"

namespace launcher::test {
namespace {

using platform::fake::Call;
using platform::fake::FakePlatform;

// How each call fails: its documented failure result. Calls absent here have none (they
// return nothing, or every result they give is a success).
struct FailureResult {
  std::string_view call;
  long result;
};
constexpr FailureResult kFailureResults[] = {
    {"RegOpenKeyExA", win::ERROR_ACCESS_DENIED},
    {"RegQueryInfoKeyA", win::ERROR_ACCESS_DENIED},
    {"RegEnumKeyExA", win::ERROR_ACCESS_DENIED},
    {"RegQueryValueExA", win::ERROR_ACCESS_DENIED},
    {"RegCloseKey", win::ERROR_INVALID_HANDLE},
    {"ShellExecuteExW", win::FALSE},
    {"GetExitCodeProcess", win::FALSE},
    {"WaitForSingleObject", static_cast<long>(win::WAIT_FAILED)},
    {"MsgWaitForMultipleObjectsEx", static_cast<long>(win::WAIT_FAILED)},
    {"CloseHandle", win::FALSE},
    {"GetModuleFileNameA", 0},
    {"GetModuleFileNameW", 0},
    {"GetModuleHandleA", 0},
    {"VirtualQuery", 0},
    {"CreateFileW", -1},  // INVALID_HANDLE_VALUE
    {"LoadLibraryExW", 0},
    {"GetSystemDirectoryW", 0},
    {"GetProcAddress", 0},
    {"FreeLibrary", win::FALSE},
    {"WinVerifyTrust", static_cast<long>(win::TRUST_E_NOSIGNATURE)},
    {"WTHelperProvDataFromStateData", 0},
    {"WTHelperGetProvSignerFromChain", 0},
    {"WTHelperGetProvCertFromChain", 0},
    {"CertGetNameStringW", 1},  // an empty name
    {"SetFilePointer", static_cast<long>(win::INVALID_SET_FILE_POINTER)},
    {"ReadFile", win::FALSE},
    {"CryptAcquireContextW", win::FALSE},
    {"CryptCreateHash", win::FALSE},
    {"CryptHashData", win::FALSE},
    {"CryptGetHashParam", win::FALSE},
    {"CryptDestroyHash", win::FALSE},
    {"CryptReleaseContext", win::FALSE},
    {"GetVersionExA", win::FALSE},
    {"GetCPInfo", win::FALSE},
    {"PeekMessageA", win::FALSE},
    {"GetClassInfoA", win::FALSE},
    {"RegisterClassA", 0},
    {"CreateWindowExA", 0},
    {"SetWindowLongA", 0},
    {"DestroyWindow", win::FALSE},
    {"GetSystemMetrics", 0},
    {"LoadStringA", 0},
    {"GetWindowTextA", 0},
    {"MessageBoxA", 0},
};
// A name that is no call of the list would never be injected.
static_assert(std::ranges::all_of(kFailureResults, [](const FailureResult& failure) {
  return std::ranges::find(platform::fake::kCallNames, failure.call) !=
         std::ranges::end(platform::fake::kCallNames);
}));

enum class Answer { kInstalled, kMissing, kWrongType };

struct Scenario {
  const char* name;
  std::function<void(FakePlatform&)> setUp;
  Answer answer;
  // The entry whose examination gives the answer, its enumeration index, and the answer when
  // a fault keeps it from being examined.
  std::string decisive;
  int decisiveIndex = -1;
  Answer answerWithoutIt = Answer::kMissing;
  win::DWORD exitCode = 0;
};

// A double-byte code page, so that lead bytes are read too; an installer that runs one wait long.
void Common(FakePlatform& os, win::DWORD exitCode) {
  os.ansiCodePage = 932;
  os.process = {exitCode, 1};
  AddEntry(os, kWow, "{A}", "Other product");
  os.AddKey(kWow + "\\{B}");  // no DisplayName
}

const Scenario kScenarios[] = {
    {"installed",
     [](FakePlatform& os) {
       Common(os, 0);
       AddEntry(os, kWow, "{R}", kRedist);
     },
     Answer::kInstalled, "{R}", 2, Answer::kMissing, 0},
    {"missing", [](FakePlatform& os) { Common(os, 0); }, Answer::kMissing, "", -1, Answer::kMissing,
     0},
    {"installer fails", [](FakePlatform& os) { Common(os, 1603); }, Answer::kMissing, "", -1,
     Answer::kMissing, 1603},
    {"wrong type before the match",
     [](FakePlatform& os) {
       Common(os, 0);
       os.SetValue(kWow + "\\{C}", "DisplayName", win::REG_DWORD, std::string(4, '\0'));
       AddEntry(os, kWow, "{D}", kRedist);
     },
     Answer::kWrongType, "{C}", 2, Answer::kInstalled, 0},
};

struct RunResult {
  std::unique_ptr<FakePlatform> os;
  std::int32_t status;
};

RunResult RunScenario(const Scenario& scenario, const std::function<void(FakePlatform&)>& alter,
                      std::function<std::optional<long>(const Call&)> hook) {
  ResetProgramState();
  auto os = std::make_unique<FakePlatform>();
  scenario.setUp(*os);
  if (alter) alter(*os);
  if (hook) os->beforeCall = std::move(hook);
  const std::int32_t status = RunLauncher(*os);
  return {std::move(os), status};
}

// What a run must show; texts are compared only when every resource text could be read.
struct Expected {
  int status = 0;
  bool installerRuns = false;
  std::int32_t code = 0;              // written to the debugger output when not 0
  bool startFails = false;            // the installer could not start: the other debugger line
  std::optional<win::DWORD> refusal;  // its number, when not the shell's last error
  std::string reportMessage;
  std::optional<std::string> file;
  bool exactTexts = true;
  // A runtime error at the end of a run whose main routine went its own way, or at start-up.
  bool afterMainRoutine = false;
  // The injected failure was a release's.
  bool releaseFailed = false;
};

Expected ForAnswer(Answer answer, std::int32_t exitCode) {
  Expected expected;
  switch (answer) {
    case Answer::kInstalled:
      break;
    case Answer::kMissing:
      expected.installerRuns = true;
      expected.code = exitCode;
      break;
    case Answer::kWrongType:
      expected.status = 1;
      expected.reportMessage = kWrongType;
      break;
  }
  return expected;
}

// The invariants of every run, then its outcome.
void Check(const RunResult& run, const Expected& expected) {
  const FakePlatform& os = *run.os;
  const int status = run.status;
  EXPECT_TRUE(status == 0 || status == 1 || (status >= 200 && status <= 255)) << status;

  // Every key opened is closed exactly once; nothing else is closed, the root least of all.
  std::map<std::string, int> closes;
  for (const Call& close : os.CallsTo("RegCloseKey")) ++closes[close.args.at(0)];
  for (const Call& open : os.CallsTo("RegOpenKeyExA")) {
    if (open.result != win::ERROR_SUCCESS) continue;
    const std::string handle = open.args.back().substr(3);  // "-> 0x..."
    EXPECT_EQ(closes[handle], 1) << "key " << handle;
    closes.erase(handle);
  }
  EXPECT_TRUE(closes.empty()) << "closed a key that was not open: " << closes.begin()->first;
  // A release that was made to fail leaves its handle open in the fake: the counts above and
  // below hold the release to once, whatever it answered.
  if (expected.releaseFailed) {
    EXPECT_FALSE(os.rootKeyClosed);
    EXPECT_EQ(os.invalidCloses, 0);
    EXPECT_FALSE(os.blockedForever);
  } else {
    EXPECT_EQ(os.ViolatedInvariants(), std::vector<std::string>{});
  }

  // The installer starts at most once; its handle, when given, is closed exactly once.
  const auto shell = os.CallsTo("ShellExecuteExW");
  ASSERT_LE(shell.size(), 1u);
  const bool started = !shell.empty() && shell[0].result != win::FALSE;
  const auto processCloses = std::ranges::count_if(os.CallsTo("CloseHandle"), [](const Call& c) {
    return c.args.at(0) == platform::fake::Hex(FakePlatform::kProcessHandle);
  });
  EXPECT_EQ(processCloses, started ? 1 : 0);
  // The installer's file is held until the shell has started it, and let go; what the check
  // loaded and verified is released.
  if (!shell.empty()) {
    EXPECT_EQ(os.installerFileHeldAtStart, true);
  }
  const auto count = [&](const char* name, auto&& which) {
    return std::ranges::count_if(os.CallsTo(name), which);
  };
  const auto succeeded = [](long failure) {
    return [=](const Call& c) { return c.result != failure; };
  };
  const auto withArgument = [](size_t at, std::string value) {
    return [=](const Call& c) { return c.args.at(at) == value; };
  };
  const std::string file = platform::fake::Hex(FakePlatform::kInstallerFile);
  EXPECT_EQ(count("CloseHandle", withArgument(0, file)), count("CreateFileW", succeeded(-1)));
  EXPECT_EQ(os.Count("FreeLibrary"), count("LoadLibraryExW", succeeded(0)));
  EXPECT_EQ(count("WinVerifyTrust", withArgument(2, "2")),
            count("WinVerifyTrust", withArgument(2, "1")));
  EXPECT_EQ(os.Count("CryptReleaseContext"), count("CryptAcquireContextW", succeeded(win::FALSE)));
  EXPECT_EQ(os.Count("CryptDestroyHash"), count("CryptCreateHash", succeeded(win::FALSE)));
  EXPECT_FALSE(State.ErrorReportingActive);

  EXPECT_EQ(status, expected.status);
  EXPECT_EQ(shell.size(), expected.installerRuns ? 1u : 0u);
  if (expected.file && !shell.empty()) {
    EXPECT_EQ(shell[0].args.at(0), *expected.file);
  }

  // At most one debugger line: the installer's failure code, or why it could not start.
  std::vector<std::string> lines;
  if (expected.code != 0) lines = {kPrefix + std::to_string(expected.code)};
  if (expected.startFails)
    lines = {kStartFailed + std::to_string(expected.refusal.value_or(os.lastError))};
  if (expected.exactTexts) {
    EXPECT_EQ(os.debugLines, lines);
  } else {
    ASSERT_EQ(os.debugLines.size(), lines.size());  // its prefix unread
    if (!lines.empty()) {
      EXPECT_TRUE(lines[0].ends_with(os.debugLines[0])) << os.debugLines[0];
    }
  }

  // The report box when the main routine raised, then a runtime error's box when there is one.
  const auto boxes = os.CallsTo("MessageBoxA");
  size_t box = 0;
  if (!expected.reportMessage.empty()) {
    ASSERT_GT(boxes.size(), box);
    const auto& args = boxes[box++].args;
    EXPECT_EQ(args.at(0), "0x0");
    EXPECT_EQ(args.at(3), "0x2010");
    if (expected.exactTexts) {
      EXPECT_TRUE(args.at(1).starts_with("Exception ERegistryException dans le module "));
      EXPECT_TRUE(args[1].ends_with("\r\n" + expected.reportMessage + ".\r\n")) << args[1];
      EXPECT_EQ(args.at(2), kReportTitle);
    }
  }
  if (status >= 200) {
    ASSERT_GT(boxes.size(), box);
    EXPECT_TRUE(IsRuntimeErrorBox(boxes[box], status)) << boxes[box].args.at(1);
    ++box;
    if (!expected.afterMainRoutine) {
      EXPECT_EQ(os.Count("RegOpenKeyExA"), 0);
    }
  }
  EXPECT_EQ(boxes.size(), box) << boxes.back().args.at(1);
}

// The number of a failed start when a call of the installer's check, or the executable's path,
// fails without a last error.
const std::map<std::string, win::DWORD> kRefusals = {
    {"GetModuleFileNameW", win::ERROR_BAD_PATHNAME},
    {"CreateFileW", win::ERROR_OPEN_FAILED},
    {"LoadLibraryExW", win::ERROR_MOD_NOT_FOUND},
    {"GetProcAddress", win::ERROR_PROC_NOT_FOUND},
    {"WinVerifyTrust", win::TRUST_E_NOSIGNATURE},
    {"WTHelperProvDataFromStateData", win::TRUST_E_NO_SIGNER_CERT},
    {"WTHelperGetProvSignerFromChain", win::TRUST_E_NO_SIGNER_CERT},
    {"WTHelperGetProvCertFromChain", win::TRUST_E_NO_SIGNER_CERT},
    {"CertGetNameStringW", win::TRUST_E_SUBJECT_NOT_TRUSTED},
    {"SetFilePointer", win::ERROR_READ_FAULT},
    {"ReadFile", win::ERROR_READ_FAULT},
    {"CryptAcquireContextW", win::NTE_FAIL},
    {"CryptCreateHash", win::NTE_FAIL},
    {"CryptHashData", win::NTE_FAIL},
    {"CryptGetHashParam", win::NTE_FAIL},
};

// The calls that release what an earlier call gave.
constexpr std::string_view kReleases[] = {"RegCloseKey",         "CloseHandle",
                                          "FreeLibrary",         "CryptDestroyHash",
                                          "CryptReleaseContext", "DestroyWindow"};

// The outcome that the failure rules give when the baseline's call at index fails.
Expected WithFault(const Scenario& scenario, const std::vector<Call>& baseline, size_t index) {
  const Call& call = baseline[index];
  std::string decisiveKey;
  for (const Call& open : baseline)
    if (open.name == "RegOpenKeyExA" && !scenario.decisive.empty() &&
        open.args.at(1) == kWowSubKey + scenario.decisive)
      decisiveKey = open.args.back().substr(3);
  const bool uninstallKeyLost = (call.name == "RegOpenKeyExA" && call.args.at(1) == kWowSubKey) ||
                                call.name == "RegQueryInfoKeyA";
  const bool decisiveLost =
      (call.name == "RegEnumKeyExA" && call.args.at(1) == std::to_string(scenario.decisiveIndex)) ||
      (call.name == "RegOpenKeyExA" && call.args.at(1) == kWowSubKey + scenario.decisive) ||
      (call.name == "RegQueryValueExA" && call.args.at(2) == "size" &&
       call.args.at(0) == decisiveKey);

  Answer answer = scenario.answer;
  if (uninstallKeyLost) answer = Answer::kMissing;
  if (decisiveLost) answer = scenario.answerWithoutIt;
  Expected expected = ForAnswer(answer, static_cast<std::int32_t>(scenario.exitCode));
  expected.exactTexts = call.name != "LoadStringA" && call.name != "GetModuleHandleA";
  expected.releaseFailed = std::ranges::find(kReleases, call.name) != std::ranges::end(kReleases) ||
                           (call.name == "WinVerifyTrust" && call.args.at(2) == "2");

  size_t lastRead = 0;
  for (size_t i = 0; i < baseline.size(); ++i)
    if (baseline[i].name == "GetExitCodeProcess") lastRead = i;
  if (call.name == "RegQueryValueExA" && call.args.at(2) == "data") {
    expected = ForAnswer(Answer::kInstalled, 0);
    expected.status = 1;
    expected.reportMessage = kReadFailed;
  } else if (call.name == "RegisterClassA") {
    expected = ForAnswer(Answer::kInstalled, 0);
    expected.status = 217;
  } else if (call.name == "ShellExecuteExW") {
    // Failed without a last error: never reported as 0.
    expected.code = 0;
    expected.startFails = true;
    expected.refusal = win::ERROR_CAN_NOT_COMPLETE;
  } else if (call.name == "MsgWaitForMultipleObjectsEx" ||
             (call.name == "GetExitCodeProcess" && index == lastRead)) {
    // The wait is given up, or its last read keeps the running state of the one before.
    expected.code = static_cast<std::int32_t>(win::STILL_ACTIVE);
  } else if (expected.installerRuns && kRefusals.contains(call.name) &&
             !(call.name == "WinVerifyTrust" && call.args.at(2) == "2")) {
    // The installer is not started; an injected failure leaves no last error, so the number
    // is the one given for a failure without a reason. The release of a verify's state
    // failing changes nothing.
    expected.installerRuns = false;
    expected.code = 0;
    expected.startFails = true;
    expected.refusal = kRefusals.at(call.name);
  }
  return expected;
}

TEST(FaultInjectionTest, EveryPlatformCallFailingInTurn) {
  int exercised = 0;
  for (const Scenario& scenario : kScenarios) {
    const RunResult baselineRun = RunScenario(scenario, nullptr, nullptr);
    {
      SCOPED_TRACE(scenario.name);
      Check(baselineRun, ForAnswer(scenario.answer, static_cast<std::int32_t>(scenario.exitCode)));
    }
    const std::vector<Call> baseline = baselineRun.os->calls;
    for (size_t index = 0; index < baseline.size(); ++index) {
      const auto failure = std::ranges::find(
          kFailureResults, std::string_view(baseline[index].name), &FailureResult::call);
      if (failure == std::ranges::end(kFailureResults)) continue;
      SCOPED_TRACE(std::string(scenario.name) + ": call " + std::to_string(index) + " " +
                   baseline[index].name + " fails");
      size_t seen = 0;
      bool injected = false;
      const RunResult run =
          RunScenario(scenario, nullptr, [&](const Call& call) -> std::optional<long> {
            if (seen++ != index) return std::nullopt;
            EXPECT_EQ(call.name, baseline[index].name) << "the run took another course";
            injected = true;
            return failure->result;
          });
      ASSERT_TRUE(injected);
      ++exercised;
      Check(run, WithFault(scenario, baseline, index));
    }
  }
  std::printf("[          ] %d injected faults exercised\n", exercised);
  ::testing::Test::RecordProperty("injected_faults", exercised);
  EXPECT_GT(exercised, 100);
}

// Memory running out inside every call of start-up and shutdown, as operator new meets it: the
// new-handler once error reporting has set one, std::bad_alloc before.
TEST(FaultInjectionTest, MemoryRunningOutAtEveryStartUpAndShutdownCall) {
  int exercised = 0;
  for (const Scenario& scenario : kScenarios) {
    const std::vector<Call> baseline = RunScenario(scenario, nullptr, nullptr).os->calls;
    const auto indexOf = [&](const char* name) {
      return static_cast<size_t>(std::find_if(baseline.begin(), baseline.end(),
                                              [&](const Call& call) { return call.name == name; }) -
                                 baseline.begin());
    };
    // Error reporting starts first; the platform id is read by the step after it.
    const size_t reportingStarted = indexOf("GetVersionExA");
    const size_t mainRoutine = indexOf("RegOpenKeyExA");
    const size_t shutdown = indexOf("DestroyWindow");
    ASSERT_LT(mainRoutine, shutdown);
    for (size_t index = 0; index < baseline.size(); ++index) {
      if (index >= mainRoutine && index < shutdown) continue;
      SCOPED_TRACE(std::string(scenario.name) + ": memory runs out in call " +
                   std::to_string(index) + " " + baseline[index].name);
      size_t seen = 0;
      const RunResult run =
          RunScenario(scenario, nullptr, [&](const Call& call) -> std::optional<long> {
            if (seen++ != index) return std::nullopt;
            EXPECT_EQ(call.name, baseline[index].name) << "the run took another course";
            if (const std::new_handler handler = std::get_new_handler()) handler();
            throw std::bad_alloc();
          });
      ++exercised;
      Expected expected;
      if (index >= shutdown) {
        expected = ForAnswer(scenario.answer, static_cast<std::int32_t>(scenario.exitCode));
        expected.afterMainRoutine = true;
      }
      expected.status = index < reportingStarted ? 203 : 217;
      Check(run, expected);
    }
  }
  std::printf("[          ] %d memory exhaustions exercised\n", exercised);
  EXPECT_GT(exercised, 40);
}

// Results that Windows may legally give, though rarely.
TEST(FaultInjectionTest, UnusualButLegalResults) {
  const Scenario& installed = kScenarios[0];
  const Scenario& missing = kScenarios[1];
  // Over 260 characters with the executable's name, short enough for the shell with the
  // installer's.
  const std::string longFolder = "C:\\" + std::string(230, 'd') + "\\";
  const std::string installerBesideLongFolder = "\"" + longFolder + "vc_redist.x86.exe\"";

  // Changes the matching entry's value between its size query and its data read, the
  // second data read of the run.
  auto atDataRead = [](std::function<void(FakePlatform&)> change) {
    return [change](FakePlatform& os) {
      os.InjectAt({.call = "RegQueryValueExA",
                   .argument = {{2, "data"}},
                   .nth = 2,
                   .action = [&os, change] { change(os); }});
    };
  };
  const std::string redistKey = kWow + "\\{R}";
  struct Case {
    const char* what;
    const Scenario& scenario;
    std::function<void(FakePlatform&)> alter;
    Answer answer;
    std::optional<std::string> reportMessage = std::nullopt;
    std::optional<std::string> file = std::nullopt;
  };
  const Case cases[] = {
      {"no sub-keys counted", installed,
       // Success with the zeroed receivers untouched.
       [](FakePlatform& os) {
         os.InjectAt({.call = "RegQueryInfoKeyA", .fail = win::ERROR_SUCCESS});
       },
       Answer::kMissing},
      {"far more sub-keys counted than listed", installed,
       [](FakePlatform& os) { os.reportedSubKeyCount = 50000; }, Answer::kInstalled},
      {"far more sub-keys counted than listed", missing,
       [](FakePlatform& os) { os.reportedSubKeyCount = 50000; }, Answer::kMissing},
      {"longest name 0: every name is cut", installed,
       [](FakePlatform& os) { os.reportedLongestSubKey = 0; }, Answer::kMissing},
      {"longest name 255", installed, [](FakePlatform& os) { os.reportedLongestSubKey = 255; },
       Answer::kInstalled},
      {"enumeration fails at index 0", installed,
       [](FakePlatform& os) {
         os.InjectAt(
             {.call = "RegEnumKeyExA", .argument = {{1, "0"}}, .fail = win::ERROR_MORE_DATA});
       },
       Answer::kInstalled},
      {"value grows before the read", installed,
       atDataRead([=](FakePlatform& os) { os.SetString(redistKey, "DisplayName", kRedist + "+"); }),
       Answer::kWrongType, kReadFailed},
      {"value vanishes before the read", installed,
       atDataRead([=](FakePlatform& os) { os.DeleteValue(redistKey, "DisplayName"); }),
       Answer::kWrongType, kReadFailed},
      {"value shrinks before the read", installed,
       atDataRead([=](FakePlatform& os) { os.SetString(redistKey, "DisplayName", "M"); }),
       Answer::kMissing},
      {"value changes type before the read", installed, atDataRead([=](FakePlatform& os) {
         os.SetValue(redistKey, "DisplayName", win::REG_BINARY, kRedist);
       }),
       Answer::kWrongType, kWrongType},
      {"executable path over 260 characters", missing,
       [&](FakePlatform& os) { os.executablePath = longFolder + std::string(40, 'f'); },
       Answer::kMissing, std::nullopt, installerBesideLongFolder},
      {"executable path over 260 characters, its ANSI form cut without NUL", missing,
       [&](FakePlatform& os) {
         os.executablePath = longFolder + std::string(40, 'f');
         os.cutPathWithoutNul = true;
       },
       Answer::kMissing, std::nullopt, installerBesideLongFolder},
      {"executable path cut, in the report", kScenarios[3],
       [&](FakePlatform& os) {
         os.executablePath = longFolder + std::string(40, 'f');
         os.cutPathWithoutNul = true;
       },
       Answer::kWrongType},
      {"code page information fails", installed,
       [](FakePlatform& os) { os.InjectAt({.call = "GetCPInfo", .fail = win::FALSE}); },
       Answer::kInstalled},
  };
  std::printf("[          ] %zu unusual results exercised\n", std::size(cases));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scenario.name) + ": " + c.what);
    const RunResult run = RunScenario(c.scenario, c.alter, nullptr);
    Expected expected = ForAnswer(c.answer, 0);
    if (c.reportMessage) expected.reportMessage = *c.reportMessage;
    expected.file = c.file;
    Check(run, expected);
    EXPECT_EQ(State.LeadByteSet.any(), run.os->Count("GetCPInfo") == 1 &&
                                           run.os->CallsTo("GetCPInfo")[0].result != win::FALSE);
  }
}

}  // namespace
}  // namespace launcher::test
