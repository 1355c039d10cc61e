// The check of the installer's signature, seen as the elevated run sees it: which files are
// started, which refused with which number, and what the check holds and releases.
#include <algorithm>

#include "launcher/elevated_run.h"
#include "launcher_test.h"

namespace launcher::test {
namespace {

using platform::fake::Call;
using platform::fake::FakePlatform;
using platform::fake::Hex;

const std::u16string kInstaller = u"C:\\Tools\\vc_redist.x86.exe";

// A set-up that makes one call (the one whose argument at index is value, when given) fail
// with result, leaving error as the thread's last error.
std::function<void(FakePlatform&)> Failing(std::string name, long result, win::DWORD error,
                                           size_t index = 0, std::string value = "") {
  return [=](FakePlatform& os) {
    os.InjectAt({.call = name,
                 .argument = value.empty() ? std::nullopt : std::optional(std::pair(index, value)),
                 .fail = result,
                 .lastError = error});
  };
}

class SignatureGateTest : public LauncherTest {
 protected:
  SignatureGateTest() : app(os) {}
  TApplication app;
};

TEST_F(SignatureGateTest, OnlyThePinnedBuildThatMicrosoftSignedIsStarted) {
  struct Case {
    const char* what;
    std::function<void(FakePlatform&)> setUp;
    win::DWORD refusal;  // the number of the failed-start line; 0: started
    bool reachesShell = false;
  };
  const auto trust = [](win::DWORD answer) {
    return [=](FakePlatform& os) { os.trustAnswer = static_cast<win::LONG>(answer); };
  };
  const auto signer = [](std::u16string name) {
    return [=](FakePlatform& os) { os.signerName = name; };
  };
  const auto openError = [](win::DWORD error) {
    return [=](FakePlatform& os) { os.installerOpenError = error; };
  };
  const auto digestOff = [](FakePlatform& os) { os.installerDigest[31] ^= 1; };
  const auto bigFile = [](FakePlatform& os) {
    os.installerBytes.assign(300 * 1024 + 7, 'x');  // several reads
    os.installerBytes[150000] = 'y';
  };
  const Case cases[] = {
      {"signed by Microsoft, the pinned build", [](FakePlatform&) {}, 0},
      {"the pinned build, larger than one read", bigFile, 0},
      {"the pinned build, read in short pieces",
       [&](FakePlatform& os) {
         bigFile(os);
         os.readLimit = 4000;
       },
       0},
      {"signed by Microsoft, another build: one byte of its digest off", digestOff, 2148077575u},
      {"another build, unsigned: the signature decides first",
       [&](FakePlatform& os) {
         digestOff(os);
         os.trustAnswer = static_cast<win::LONG>(0x800B0100);
       },
       2148204800u},
      {"the file cannot be read", Failing("ReadFile", 0, 23), 23},
      {"the file cannot be read, no reason given", Failing("ReadFile", 0, 0), 30},
      {"the file cannot be rewound", Failing("SetFilePointer", -1, 6), 6},
      {"no hash provider", Failing("CryptAcquireContextW", 0, 0x80090017), 2148073495u},
      {"no hash provider, no reason given", Failing("CryptAcquireContextW", 0, 0), 2148073504u},
      {"no SHA-256", Failing("CryptCreateHash", 0, 0x80090008), 2148073480u},
      {"hashing fails", Failing("CryptHashData", 0, 0), 2148073504u},
      {"no digest given", Failing("CryptGetHashParam", 0, 0x80090002), 2148073474u},
      {"unsigned", trust(0x800B0100), 2148204800u},
      {"altered after signing", trust(0x80096010), 2148098064u},
      {"chain to an untrusted root", trust(0x800B0109), 2148204809u},
      {"another signer", signer(u"Contoso Ltd"), 2148204548u},
      {"a signer whose name only begins like Microsoft's", signer(u"Microsoft Corporation Ltd"),
       2148204548u},
      {"a signer named in other letter cases", signer(u"microsoft corporation"), 2148204548u},
      {"a signer without a name", signer(u""), 2148204548u},
      {"missing", openError(2), 2},
      {"being written", openError(32), 32},
      {"refused without a reason", openError(0), 110},
      // A helper that gives nothing: its own error, else "no signer's certificate".
      {"no provider data", Failing("WTHelperProvDataFromStateData", 0, 0), 2148098050u},
      {"no provider data, with a reason", Failing("WTHelperProvDataFromStateData", 0, 8), 8},
      {"no signer", Failing("WTHelperGetProvSignerFromChain", 0, 0), 2148098050u},
      {"no leaf certificate", Failing("WTHelperGetProvCertFromChain", 0, 0), 2148098050u},
      {"no name read", Failing("CertGetNameStringW", 0, 0), 2148098050u},
      {"wintrust.dll not loaded", Failing("LoadLibraryExW", 0, 126, 0, "wintrust.dll"), 126},
      {"crypt32.dll not loaded", Failing("LoadLibraryExW", 0, 5, 0, "crypt32.dll"), 5},
      {"a load failing without a reason", Failing("LoadLibraryExW", 0, 0), 126},
      {"WinVerifyTrust missing", Failing("GetProcAddress", 0, 127, 1, "WinVerifyTrust"), 127},
      {"WTHelperGetProvCertFromChain missing",
       Failing("GetProcAddress", 0, 0, 1, "WTHelperGetProvCertFromChain"), 127},
      {"CertGetNameStringW missing", Failing("GetProcAddress", 0, 127, 1, "CertGetNameStringW"),
       127},
      {"a Windows without the system-folder flag: loaded by full path",
       [](FakePlatform& os) { os.librarySearchFlagUnknown = true; }, 0},
      {"a Windows without the flag, whose system folder cannot be read",
       [](FakePlatform& os) {
         os.librarySearchFlagUnknown = true;
         Failing("GetSystemDirectoryW", 0, 5)(os);
       },
       5},
      {"the shell fails after the check",
       [](FakePlatform& os) {
         os.shellOutcome = FakePlatform::ShellOutcome::kFails;
         os.shellError = win::ERROR_CANCELLED;
       },
       1223, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakePlatform fake;
    TApplication application(fake);
    fake.process = {7, 0};
    c.setUp(fake);
    const std::int32_t code = RunAsAdminAndWait(fake, application, nullptr, kInstaller, u"/i");
    const bool shellAsked = fake.Count("ShellExecuteExW") == 1;
    EXPECT_EQ(shellAsked, c.refusal == 0 || c.reachesShell);
    if (c.refusal == 0) {
      EXPECT_EQ(code, 7);
      EXPECT_TRUE(fake.debugLines.empty());
    } else {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(fake.debugLines,
                std::vector<std::string>{kStartFailed + std::to_string(c.refusal)});
    }
    // Held while the shell starts it, so that it cannot be swapped after the check; let go
    // once the shell has returned, on every road, with what the check loaded and verified.
    if (shellAsked) {
      EXPECT_EQ(fake.installerFileHeldAtStart, true);
    }
    application.Destroy();
    EXPECT_EQ(fake.ViolatedInvariants(), std::vector<std::string>{});
  }
}

TEST_F(SignatureGateTest, ChecksTheHeldFileOfflineWithoutAWindow) {
  EXPECT_EQ(RunAsAdminAndWait(os, app, nullptr, kInstaller, u"/install"), 0);
  EXPECT_EQ(os.Count("ShellExecuteExW"), 1);
  const auto open = os.CallsTo("CreateFileW");
  ASSERT_EQ(open.size(), 1u);
  // Read, shared for reading only: nobody may write, replace or delete it meanwhile.
  EXPECT_EQ(open[0].args,
            (std::vector<std::string>{"C:\\Tools\\vc_redist.x86.exe", "0x80000000", "0x1", "3"}));
  const auto verify = os.CallsTo("WinVerifyTrust");
  ASSERT_EQ(verify.size(), 2u);
  const std::vector<std::string> expected = {Hex(win::INVALID_HANDLE_VALUE),
                                             "verify-v2",
                                             "1",
                                             verify[0].args.at(3),
                                             "2" /* no UI */,
                                             "0" /* no revocation check */,
                                             "1" /* a file */,
                                             "0x1000" /* no network fetch */,
                                             "C:\\Tools\\vc_redist.x86.exe",
                                             Hex(FakePlatform::kInstallerFile)};
  EXPECT_EQ(verify[0].args, expected);
  EXPECT_EQ(verify[1].args.at(2), "2");  // the state released
  // The platform's SHA-256, over the held file from its first byte, after the signature check.
  EXPECT_EQ(os.CallsTo("CryptAcquireContextW").at(0).args,
            (std::vector<std::string>{"(null)", "(null)", "24", "0xF0000000"}));
  EXPECT_EQ(os.CallsTo("CryptCreateHash").at(0).args.at(1), "0x800C");
  const auto names = os.CallNames();
  const auto seek = std::ranges::find(names, "SetFilePointer");
  EXPECT_GT(seek, std::ranges::find(names, "WinVerifyTrust"));
  EXPECT_LT(seek, std::ranges::find(names, "ReadFile"));
  EXPECT_EQ(os.CallsTo("SetFilePointer").at(0).args,
            (std::vector<std::string>{Hex(FakePlatform::kInstallerFile), "0", "0x0", "0"}));
  EXPECT_EQ(os.CallsTo("WTHelperGetProvSignerFromChain").at(0).args.at(1), "0");  // first signer
  EXPECT_EQ(os.CallsTo("CertGetNameStringW").at(0).args.at(1), "4");  // simple display name
}

}  // namespace
}  // namespace launcher::test
