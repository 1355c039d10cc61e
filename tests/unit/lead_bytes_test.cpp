#include "launcher/lead_bytes.h"

#include "launcher/launch_sequence.h"
#include "test_support.h"

namespace launcher::test {
namespace {

using LeadBytesTest = LauncherTest;

TEST_F(LeadBytesTest, WesternLanguagesNeverAskForTheCodePage) {
  // English, French, German, Swedish, neutral, and English with a non-US sublanguage.
  for (win::LCID locale : {0x0409u, 0x040Cu, 0x0407u, 0x041Du, 0x0000u, 0x0809u}) {
    os.threadLocale = locale;
    os.calls.clear();
    FillLeadByteSet(os);
    EXPECT_TRUE(LeadByteSet.none()) << std::hex << locale;
    EXPECT_EQ(os.Count("GetCPInfo"), 0) << std::hex << locale;
  }
}

TEST_F(LeadBytesTest, JapaneseLocaleTakesTheRangesOfItsCodePage) {
  os.threadLocale = 0x0411;
  FillLeadByteSet(os);
  ASSERT_EQ(os.CallsTo("GetCPInfo").at(0).args.at(0), "932");
  EXPECT_EQ(os.CallsTo("GetLocaleInfoA").at(0).args.at(2), "7");
  EXPECT_EQ(LeadByteSet.count(), (0x9Fu - 0x81 + 1) + (0xFCu - 0xE0 + 1));
  EXPECT_TRUE(LeadByteSet.test(0x81) && LeadByteSet.test(0x9F) && LeadByteSet.test(0xE0));
  EXPECT_FALSE(LeadByteSet.test(0x80) || LeadByteSet.test(0xA0) || LeadByteSet.test(0xFD));
}

TEST_F(LeadBytesTest, CodePageFallsBackToTheAnsiCodePage) {
  os.threadLocale = 0x0412;  // Korean
  os.ansiCodePage = 949;
  os.leadByteRanges[949] = {0x81, 0xFE};
  for (const char* text : {"", "94x", "-949"}) {
    os.localeCodePageText[0x0412] = text;
    FillLeadByteSet(os);
    EXPECT_EQ(os.CallsTo("GetCPInfo").back().args.at(0), "949") << '"' << text << '"';
    EXPECT_EQ(LeadByteSet.count(), 0xFEu - 0x81 + 1);
  }
}

TEST_F(LeadBytesTest, RangesStopAtTheFirstEmptyPairAndReversedPairsAddNothing) {
  os.threadLocale = 0x0404;
  os.localeCodePageText[0x0404] = "950";
  os.leadByteRanges[950] = {0x90, 0x80, 0xA1, 0xA2, 0, 0, 0xB0, 0xB1};
  FillLeadByteSet(os);
  EXPECT_EQ(LeadByteSet.count(), 2u);
  EXPECT_TRUE(LeadByteSet.test(0xA1) && LeadByteSet.test(0xA2));
}

TEST_F(LeadBytesTest, FailedCodePageInfoLeavesTheSetEmpty) {
  os.threadLocale = 0x0411;
  os.beforeCall = [](const platform::fake::Call& call) -> std::optional<long> {
    if (call.name == "GetCPInfo") return 0;
    return std::nullopt;
  };
  FillLeadByteSet(os);
  EXPECT_TRUE(LeadByteSet.none());
}

struct FolderCase {
  std::string path;
  std::string folder;
};

TEST_F(LeadBytesTest, ExtractFolderPartInASingleByteCodePage) {
  const FolderCase cases[] = {
      {"C:\\Tools\\launcher.exe", "C:\\Tools\\"},
      {"C:\\launcher.exe", "C:\\"},
      {"\\\\server\\share\\tools\\launcher.exe", "\\\\server\\share\\tools\\"},
      {"C:launcher.exe", "C:"},
      {"launcher.exe", ""},
      {"", ""},
      {std::string("C:\\Tools\\launch\0", 16), "C:\\Tools\\"},
      {std::string("C:\\Tools\\\0", 10), "C:\\Tools\\"},
      // Without a double-byte code page, 0x5C after any byte is a backslash.
      {"C:\\\x83\\x.exe", "C:\\\x83\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractFolderPart(c.path), c.folder) << c.path;
}

TEST_F(LeadBytesTest, ExtractFolderPartKeepsDoubleByteCharactersWhole) {
  os.threadLocale = 0x0411;
  FillLeadByteSet(os);
  // 0x95 0x5C is one character (a kanji) whose second byte is the backslash byte.
  const FolderCase cases[] = {
      {"C:\\\x95\\\\launcher.exe", "C:\\\x95\\\\"},
      {"C:\\\x95\\launcher.exe", "C:\\"},
      {"C:\\ab\x95\\launcher.exe", "C:\\"},
      // Two lead bytes make a whole character; the backslash after them is a delimiter.
      {"C:\\\x95\x95\\launcher.exe", "C:\\\x95\x95\\"},
      // Three lead bytes: the third begins a character ending in 0x5C.
      {"C:\\\x95\x95\x95\\launcher.exe", "C:\\"},
      // The first byte is never a second byte.
      {"\\\x95\\x", "\\"},
      {"\x95:file", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractFolderPart(c.path), c.folder) << c.path;
}

}  // namespace
}  // namespace launcher::test
