#include "launcher/elevated_run.h"

#include <algorithm>
#include <climits>

#include "launcher_test.h"

namespace launcher::test {
namespace {

using platform::fake::Call;
using platform::fake::FakePlatform;
using platform::fake::Hex;

const std::u16string kInstaller = u"C:\\Tools\\vc_redist.x86.exe";
const std::u16string kParameters = u"/install /passive /norestart";

class ElevatedRunTest : public LauncherTest {
 protected:
  ElevatedRunTest() : app(os) { os.calls.clear(); }

  std::int32_t Run() { return RunAsAdminAndWait(os, app, nullptr, kInstaller, kParameters); }
  // Runs action at the n-th wait for the installer or for input (1-based).
  void AtWait(int n, std::function<void()> action) {
    os.InjectAt({.call = "MsgWaitForMultipleObjectsEx", .nth = n, .action = std::move(action)});
  }

  // A WM_QUIT posted to window (or to the thread) while the installer runs.
  void ExpectQuitEndsTheWait(win::HWND window) {
    os.process = {0, 5};
    AtWait(2, [&] {
      os.PostMessage(window, win::WM_QUIT);
      os.PostMessage(app.Handle(), win::WM_USER);  // still handled: the pump empties the queue
    });
    EXPECT_EQ(Run(), 259);
    EXPECT_FALSE(os.processEnded) << "the installer keeps running";
    EXPECT_EQ(os.processHandleCloses, 1);
    EXPECT_EQ(os.Count("MsgWaitForMultipleObjectsEx"), 2);
    // WM_QUIT is neither translated nor dispatched; WM_USER is both.
    EXPECT_EQ(os.Count("TranslateMessage"), 1);
    EXPECT_EQ(os.Count("DispatchMessageA"), 1);
    EXPECT_TRUE(app.QuitRequested());
  }

  TApplication app;
};

TEST_F(ElevatedRunTest, AsksTheShellForAnElevatedStartWithItsProcessHandle) {
  const auto owner = reinterpret_cast<win::HWND>(0x1234);
  struct Case {
    std::u16string installer, parameters;
    std::optional<std::u16string> passedParameters;
  };
  const std::u16string spaced = u"C:\\Program Files\\My Tools\\vc_redist.x86.exe";
  for (const Case& c : {Case{kInstaller, kParameters, kParameters},
                        Case{kInstaller, u"", std::nullopt}, Case{spaced, u" ", u" "}}) {
    RunAsAdminAndWait(os, app, owner, c.installer, c.parameters);
    ASSERT_TRUE(os.shellRequest);
    const auto& request = *os.shellRequest;
    EXPECT_EQ(request.cbSize, 60u);
    EXPECT_EQ(request.fMask, 0x540u);
    EXPECT_EQ(request.hwnd, owner);
    EXPECT_EQ(request.verb, u"runas");
    EXPECT_EQ(request.file, u"\"" + c.installer + u"\"");  // quoted: never split at a space
    EXPECT_EQ(request.parameters, c.passedParameters);
    EXPECT_EQ(request.directory, std::nullopt);
    EXPECT_EQ(request.nShow, 1);
    EXPECT_TRUE(request.otherMembersZero);
  }
}

TEST_F(ElevatedRunTest, NothingIsWaitedForWhenTheShellGivesNoProcess) {
  struct Case {
    FakePlatform::ShellOutcome outcome;
    std::vector<std::string> debugLines;
  };
  os.shellError = win::ERROR_CANCELLED;  // the elevation prompt declined
  for (const Case& c : {Case{FakePlatform::ShellOutcome::kFails, {kStartFailed + "1223"}},
                        Case{FakePlatform::ShellOutcome::kStartsWithoutHandle, {}}}) {
    os.shellOutcome = c.outcome;
    os.debugLines.clear();
    os.calls.clear();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(os.debugLines, c.debugLines);
    EXPECT_EQ(os.Count("PeekMessageA") + os.Count("GetExitCodeProcess"), 0);
  }
}

TEST_F(ElevatedRunTest, ProcessThatHasEndedCostsOnePumpAndOneRead) {
  const std::pair<win::DWORD, std::int32_t> codes[] = {
      {0, 0}, {1, 1}, {1603, 1603}, {259, 259}, {0x80000000, INT_MIN}, {0xC0000005, -1073741819}};
  for (const auto& [exitCode, result] : codes) {
    os.process = {exitCode, 0};
    os.calls.clear();
    EXPECT_EQ(Run(), result);
    EXPECT_EQ(os.Count("PeekMessageA"), 1);
    EXPECT_EQ(os.Count("GetExitCodeProcess"), 1);
    EXPECT_EQ(os.Count("MsgWaitForMultipleObjectsEx"), 0);
    EXPECT_EQ(os.CallNames().back(), "CloseHandle");
  }
}

TEST_F(ElevatedRunTest, SleepsUntilTheInstallerEndsOrInputArrives) {
  os.process = {3010, 3};  // woken twice by input that the pump finds nothing in
  EXPECT_EQ(Run(), 3010);
  auto names = os.CallNames();
  names.erase(names.begin(), std::ranges::find(names, "ShellExecuteExW"));
  EXPECT_EQ(names, (std::vector<std::string>{
                       "ShellExecuteExW", "CloseHandle", "PeekMessageA", "WaitForSingleObject",
                       "GetExitCodeProcess", "MsgWaitForMultipleObjectsEx", "PeekMessageA",
                       "WaitForSingleObject", "GetExitCodeProcess", "MsgWaitForMultipleObjectsEx",
                       "PeekMessageA", "WaitForSingleObject", "GetExitCodeProcess",
                       "MsgWaitForMultipleObjectsEx", "PeekMessageA", "WaitForSingleObject",
                       "GetExitCodeProcess", "CloseHandle"}));
  const auto wait = os.CallsTo("MsgWaitForMultipleObjectsEx").at(0).args;
  EXPECT_EQ(wait, (std::vector<std::string>{"1", Hex(FakePlatform::kProcessHandle),
                                            Hex(0xFFFFFFFFu), Hex(0x4FFu), Hex(0x4u)}));
}

TEST_F(ElevatedRunTest, InstallerWhoseOwnExitCodeIs259EndsTheWait) {
  os.process = {259, 1};
  EXPECT_EQ(Run(), 259);
  EXPECT_TRUE(os.processEnded);
  EXPECT_EQ(os.Count("GetExitCodeProcess"), 2);
}

TEST_F(ElevatedRunTest, FinalCodeEndsTheWaitEvenWhenTheHandleCannotBeWaitedOn) {
  os.process = {1603, 0};
  os.InjectAt({.call = "WaitForSingleObject", .fail = static_cast<long>(win::WAIT_FAILED)});
  EXPECT_EQ(Run(), 1603);
  EXPECT_EQ(os.Count("MsgWaitForMultipleObjectsEx"), 0);
}

TEST_F(ElevatedRunTest, QuitMessageToTheThreadGivesUpTheWait) {
  ExpectQuitEndsTheWait(nullptr);
}

TEST_F(ElevatedRunTest, QuitMessageToTheWindowGivesUpTheWait) {
  ExpectQuitEndsTheWait(app.Handle());
}

TEST_F(ElevatedRunTest, InstallerThatEndsInThePassOfTheQuitGivesItsExitCode) {
  os.process = {1603, -1};
  AtWait(1, [&] {
    os.PostQuitMessage();
    os.processEnded = true;
  });
  EXPECT_EQ(Run(), 1603);
  EXPECT_TRUE(app.QuitRequested());
}

TEST_F(ElevatedRunTest, EndSessionGivesUpTheWaitOnlyWhenTheSessionEnds) {
  os.process = {0, 2};
  AtWait(1, [&] { os.SendFromOtherThread(app.Handle(), win::WM_ENDSESSION, 0); });
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(app.QuitRequested());

  os.process = {0, -1};
  AtWait(1, [&] { os.SendFromOtherThread(app.Handle(), win::WM_ENDSESSION, 1); });
  EXPECT_EQ(Run(), 259);
  EXPECT_TRUE(app.QuitRequested());
  EXPECT_EQ(os.sentMessageResults, (std::vector<win::LRESULT>{0, 0}));
  EXPECT_EQ(os.Count("DefWindowProcA"), 0);
}

TEST_F(ElevatedRunTest, QueryEndSessionAndCloseLeaveTheWaitGoingOn) {
  os.process = {7, 2};
  AtWait(1, [&] {
    os.SendFromOtherThread(app.Handle(), win::WM_QUERYENDSESSION);
    os.PostMessage(app.Handle(), win::WM_CLOSE);
  });
  EXPECT_EQ(Run(), 7);
  EXPECT_EQ(os.sentMessageResults, std::vector<win::LRESULT>{1});  // the log-off may go ahead
  EXPECT_EQ(os.CallsTo("DispatchMessageA").at(0).result, 0);
  EXPECT_EQ(os.CallsTo("DefWindowProcA").size(), 1u);  // for the query only
  EXPECT_FALSE(os.windows.at(app.Handle()).destroyed);
  EXPECT_FALSE(app.QuitRequested());
}

TEST_F(ElevatedRunTest, QuitRequestStaysSet) {
  os.process = {0, -1};
  AtWait(1, [&] { os.PostQuitMessage(); });
  EXPECT_EQ(Run(), 259);
  os.beforeCall = nullptr;
  os.calls.clear();
  EXPECT_EQ(Run(), 259);
  EXPECT_EQ(os.Count("MsgWaitForMultipleObjectsEx"), 0);
}

TEST_F(ElevatedRunTest, FailedWaitEndsTheWaitInsteadOfSpinning) {
  os.process = {0, -1};
  os.InjectAt({.call = "MsgWaitForMultipleObjectsEx", .fail = win::WAIT_FAILED});
  EXPECT_EQ(Run(), 259);
  EXPECT_EQ(os.Count("MsgWaitForMultipleObjectsEx"), 1);
}

}  // namespace
}  // namespace launcher::test
