#include "launcher/presence_check.h"

#include "launcher/errors.h"
#include "launcher_test.h"

namespace launcher::test {
namespace {

using platform::fake::Call;
using platform::fake::Hex;

class PresenceCheckTest : public LauncherTest {
 protected:
  std::vector<std::string> OpenedPaths() const {
    std::vector<std::string> paths;
    for (const Call& call : os.CallsTo("RegOpenKeyExA")) paths.push_back(call.args.at(1));
    return paths;
  }
  // The message of the error that the check raised, or nothing when it answered.
  std::optional<std::string> RaisedMessage() {
    try {
      IsRedistInstalled(os);
    } catch (Exception* raw) {
      const OwnedError error(raw);
      EXPECT_STREQ(error->ClassName(), "ERegistryException");
      return error->Message();
    }
    return std::nullopt;
  }
};

TEST_F(PresenceCheckTest, DisplayNameMatchesOnItsFirst66Bytes) {
  struct Case {
    std::string data;  // the raw value data
    win::DWORD type;
    bool installed;
  };
  std::string lastLower = kRedist;
  lastLower[0] = 'm';
  const Case cases[] = {
      {kRedist + '\0', win::REG_SZ, true},
      {kRedist + " [x86]" + '\0', win::REG_SZ, true},
      {kRedist + "0" + '\0', win::REG_SZ, true},
      {kRedist + '\0', win::REG_EXPAND_SZ, true},
      {kRedist + '\0' + "tail" + '\0', win::REG_SZ, true},
      {kRedist, win::REG_SZ, true},  // data without its terminating NUL
      {kRedist.substr(0, 65) + '\0', win::REG_SZ, false},
      {lastLower + '\0', win::REG_SZ, false},
      {" " + kRedist + '\0', win::REG_SZ, false},
      {kRedist.substr(0, 30) + '\0' + kRedist.substr(31) + '\0', win::REG_SZ, false},
      {std::string(1, '\0'), win::REG_SZ, false},
      {"", win::REG_DWORD, false},  // a value of any type without data reads as empty text
      {"", win::REG_SZ, false},
  };
  for (const Case& c : cases) {
    os.SetValue(kWow + "\\{ENTRY}", "DisplayName", c.type, c.data);
    EXPECT_EQ(IsRedistInstalled(os), c.installed) << c.data;
  }
}

TEST_F(PresenceCheckTest, ValueOfAnotherTypeBeforeTheMatchRaises) {
  const std::pair<win::DWORD, std::string> wrongValues[] = {
      {win::REG_DWORD, std::string("\x01\0\0\0", 4)},
      {win::REG_BINARY, "\xAB\xCD"},
      {win::REG_MULTI_SZ, kRedist + '\0' + '\0'},
      {win::REG_NONE, kRedist + '\0'},
  };
  AddEntry(os, kWow, "{B-MATCH}", kRedist);
  for (const auto& [type, data] : wrongValues) {
    os.SetValue(kWow + "\\{A-WRONG}", "DisplayName", type, data);
    EXPECT_EQ(RaisedMessage(), kWrongType) << type;
  }
}

TEST_F(PresenceCheckTest, EntriesAfterTheMatchAreNeverOpened) {
  AddEntry(os, kWow, "{A-MATCH}", kRedist);
  AddEntry(os, kWow, "{B-MATCH-TOO}", kRedist);
  os.SetValue(kWow + "\\{C-WRONG}", "DisplayName", win::REG_DWORD, std::string(4, '\0'));
  EXPECT_TRUE(IsRedistInstalled(os));
  EXPECT_EQ(OpenedPaths(), (std::vector<std::string>{kWowSubKey, kWowSubKey + "{A-MATCH}"}));
}

TEST_F(PresenceCheckTest, EveryOpenUsesTheReadOnly64BitViewBelowTheLocalMachine) {
  AddEntry(os, kWow, "{A}", "Other product");
  AddEntry(os, kWow, "{B}", kRedist);
  EXPECT_TRUE(IsRedistInstalled(os));
  const auto opens = os.CallsTo("RegOpenKeyExA");
  ASSERT_EQ(opens.size(), 3u);
  for (const Call& open : opens) {
    EXPECT_EQ(open.args.at(0), Hex(0x80000002u));
    EXPECT_EQ(open.args.at(3), Hex(0x20119u));
  }
  EXPECT_EQ(OpenedPaths(),
            (std::vector<std::string>{kWowSubKey, kWowSubKey + "{A}", kWowSubKey + "{B}"}));
  // The entry reader opens the next key before it closes the one it holds.
  const auto names = os.CallNames();
  std::vector<size_t> openAt;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == "RegOpenKeyExA") openAt.push_back(i);
  EXPECT_EQ(names.at(openAt.at(2) + 1), "RegCloseKey");
}

TEST_F(PresenceCheckTest, WithoutAnyUninstallKeyTheAnswerIsNoAndNoEntryIsOpened) {
  os.DeleteKey("HKLM\\SOFTWARE\\Microsoft");
  os.DeleteKey("HKLM\\SOFTWARE\\WOW6432Node");
  EXPECT_FALSE(IsRedistInstalled(os));
  EXPECT_EQ(os.CallNames(),
            (std::vector<std::string>{"RegOpenKeyExA", "RegOpenKeyExA", "RegQueryInfoKeyA"}));
  EXPECT_EQ(os.CallsTo("RegQueryInfoKeyA").at(0).args.at(0), Hex(nullptr));
}

TEST_F(PresenceCheckTest, NativeKeyIsReadOnlyWhenTheWow64KeyIsAbsent) {
  const std::string native = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  struct Case {
    const char* what;
    std::function<void(platform::fake::FakePlatform&)> wowKey;
    bool installed;
    std::vector<std::string> opened;
  };
  const Case cases[] = {
      // 32-bit Windows: no WOW6432Node branch at all.
      {"absent",
       [](auto& os) { os.DeleteKey("HKLM\\SOFTWARE\\WOW6432Node"); },
       true,
       {kWowSubKey, native, native + "{NATIVE}"}},
      // 64-bit Windows where the open is refused: its 64-bit software is not listed instead.
      {"refused", [](auto& os) { os.deniedKeys = {kWow}; }, false, {kWowSubKey}},
      {"empty", [](auto& os) { os.AddKey(kWow); }, false, {kWowSubKey}},
  };
  for (const Case& c : cases) {
    platform::fake::FakePlatform machine;
    machine.SetString(kNative + "\\{NATIVE}", "DisplayName", kRedist);
    c.wowKey(machine);
    EXPECT_EQ(IsRedistInstalled(machine), c.installed) << c.what;
    std::vector<std::string> opened;
    for (const Call& call : machine.CallsTo("RegOpenKeyExA")) opened.push_back(call.args.at(1));
    EXPECT_EQ(opened, c.opened) << c.what;
    EXPECT_EQ(machine.ViolatedInvariants(), std::vector<std::string>{}) << c.what;
  }
}

TEST_F(PresenceCheckTest, EntryThatCannotBeOpenedReusesTheKeyOpenedBefore) {
  AddEntry(os, kWow, "{A}", "Other product");
  AddEntry(os, kWow, "{B}", kRedist);
  AddEntry(os, kWow, "{C}", "Third product");
  os.deniedKeys = {kWow + "\\{A}", kWow + "\\{C}"};
  os.SetString(kWow + "\\{B}", "DisplayName", "Not it");
  EXPECT_FALSE(IsRedistInstalled(os));
  // {A}, first, is passed over with no key held; {C} examines {B} a second time.
  const auto reads = os.CallsTo("RegQueryValueExA");
  ASSERT_EQ(reads.size(), 7u);  // no key: 1; {B}: exists, size, data; {B} again: 3
  EXPECT_EQ(reads.at(0).args.at(0), Hex(nullptr));
  EXPECT_EQ(reads.at(1).args.at(0), reads.at(4).args.at(0));
}

TEST_F(PresenceCheckTest, FailedEnumerationAppendsThePreviousNameAgain) {
  AddEntry(os, kWow, "{A}", "Other product");
  AddEntry(os, kWow, "{B}", kRedist);
  os.InjectAt({.call = "RegEnumKeyExA", .argument = {{1, "1"}}, .fail = win::ERROR_MORE_DATA});
  EXPECT_FALSE(IsRedistInstalled(os));
  EXPECT_EQ(OpenedPaths(),
            (std::vector<std::string>{kWowSubKey, kWowSubKey + "{A}", kWowSubKey + "{A}"}));
}

TEST_F(PresenceCheckTest, FailedEnumerationThatFillsTheBufferIsReadWithinIt) {
  AddEntry(os, kWow, "{ABCD}", "Other product");  // the longest name: 6 characters
  AddEntry(os, kWow, "{B}", "Other product");
  os.enumFailuresFillingTheBuffer = {0};
  EXPECT_FALSE(IsRedistInstalled(os));
  // The name handed over is the whole buffer the call was given, and not a byte more.
  EXPECT_EQ(OpenedPaths().at(1), kWowSubKey + std::string(7, 'X'));
}

TEST_F(PresenceCheckTest, ValueThatChangesBetweenTheQueriesIsEmptyOrRaises) {
  AddEntry(os, kWow, "{A}", "Other product");
  AddEntry(os, kWow, "{B}", kRedist);
  // Removed between the existence test and the size query: an empty text, then the next entry.
  os.InjectAt({.call = "RegQueryValueExA", .argument = {{2, "size"}}, .nth = 2, .action = [&] {
                 os.DeleteValue(kWow + "\\{A}", "DisplayName");
               }});
  EXPECT_TRUE(IsRedistInstalled(os));

  // Grown between the size query and the data read: the read fails and raises.
  os.SetString(kWow + "\\{A}", "DisplayName", "Other product");
  os.InjectAt({.call = "RegQueryValueExA", .argument = {{2, "data"}}, .action = [&] {
                 os.SetString(kWow + "\\{A}", "DisplayName", "A much longer display name");
               }});
  EXPECT_EQ(RaisedMessage(), kReadFailed);

  // Any other failure of the data read raises the same error.
  os.InjectAt({.call = "RegQueryValueExA", .argument = {{2, "data"}}, .fail = 1392});
  EXPECT_EQ(RaisedMessage(), kReadFailed);
}

TEST_F(PresenceCheckTest, NameBufferIsDoubledForDoubleByteCodePagesOnNT) {
  AddEntry(os, kWow, "{ABCD}", "Other product");  // 6 characters
  struct Case {
    bool nt;
    win::UINT codePage;
    std::string enumSize;
  };
  for (const Case& c : {Case{true, 932, "13"}, Case{true, 1252, "7"}, Case{false, 932, "7"}}) {
    State.PlatformIsNT = c.nt;
    os.ansiCodePage = c.codePage;
    FillLeadByteSet(os);
    os.calls.clear();
    EXPECT_FALSE(IsRedistInstalled(os));
    EXPECT_EQ(os.CallsTo("RegEnumKeyExA").at(0).args.at(2), c.enumSize);
  }
}

TEST_F(PresenceCheckTest, SizesBeyondAnyRealKeyOrTextAreNotTrusted) {
  AddEntry(os, kWow, "{MATCH}", kRedist);
  struct Case {
    std::optional<win::DWORD> longestName, valueSize;
    std::optional<bool> installed;  // nothing: the read-failure error
  };
  const Case cases[] = {
      {32767, std::nullopt, true},
      {32768, std::nullopt, false},  // no name is listed, no entry opened
      {0xFFFFFFFF, std::nullopt, false},
      {0x7FFFFFFF, std::nullopt, false},
      {std::nullopt, 64u << 20, true},
      {std::nullopt, (64u << 20) + 1, std::nullopt},
      {std::nullopt, 0xFFFFFFFF, std::nullopt},
  };
  for (const Case& c : cases) {
    os.reportedLongestSubKey = c.longestName;
    os.reportedValueSize = c.valueSize;
    os.calls.clear();
    if (c.installed) {
      EXPECT_EQ(IsRedistInstalled(os), *c.installed);
    } else {
      EXPECT_EQ(RaisedMessage(), kReadFailed);
    }
    if (c.longestName > 32767u) {
      EXPECT_EQ(OpenedPaths(), std::vector<std::string>{kWowSubKey});
    }
  }
}

TEST_F(PresenceCheckTest, ReadsTheProgramWideUninstallPath) {
  os.AddKey("HKLM\\SOFTWARE\\Elsewhere");
  AddEntry(os, "HKLM\\SOFTWARE\\Elsewhere", "{E}", kRedist);
  State.UninstallKeyPath = "\\SOFTWARE\\Elsewhere\\";
  EXPECT_TRUE(IsRedistInstalled(os));
}

}  // namespace
}  // namespace launcher::test
