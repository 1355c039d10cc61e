#include "launcher/lead_bytes.h"

#include "launcher_test.h"

namespace launcher::test {
namespace {

using LeadBytesTest = LauncherTest;

TEST_F(LeadBytesTest, LeadBytesAreThoseOfTheSystemCodePage) {
  struct Case {
    win::UINT codePage;
    std::vector<win::BYTE> ranges;
    std::vector<unsigned> in, out;
    size_t count;
  };
  const Case cases[] = {
      {1252, {}, {}, {0x81, 0xE9}, 0},
      {932, {0x81, 0x9F, 0xE0, 0xFC}, {0x81, 0x9F, 0xE0, 0xFC}, {0x80, 0xA0, 0xDF, 0xFD}, 60},
      // Ranges end at the first 0, 0 pair; a reversed pair adds nothing, one ending in 0 too.
      {950,
       {0x90, 0x80, 0x90, 0x00, 0xA1, 0xA2, 0, 0, 0xB0, 0xB1},
       {0xA1, 0xA2},
       {0x80, 0x90, 0xB0},
       2},
  };
  for (const Case& c : cases) {
    os.ansiCodePage = c.codePage;
    if (!c.ranges.empty()) os.leadByteRanges[c.codePage] = c.ranges;
    os.calls.clear();
    FillLeadByteSet(os);
    EXPECT_EQ(os.CallsTo("GetCPInfo").at(0).args.at(0), std::to_string(c.codePage));
    EXPECT_EQ(State.LeadByteSet.count(), c.count) << c.codePage;
    for (unsigned byte : c.in)
      EXPECT_TRUE(State.LeadByteSet.test(byte)) << c.codePage << " " << byte;
    for (unsigned byte : c.out)
      EXPECT_FALSE(State.LeadByteSet.test(byte)) << c.codePage << " " << byte;
  }
}

TEST_F(LeadBytesTest, FailedCodePageInfoLeavesTheSetEmpty) {
  os.ansiCodePage = 932;
  os.InjectAt({.call = "GetCPInfo", .fail = 0});
  FillLeadByteSet(os);
  EXPECT_TRUE(State.LeadByteSet.none());
}

TEST_F(LeadBytesTest, LastDelimiterKeepsDoubleByteCharactersWhole) {
  struct Case {
    win::UINT codePage;
    std::string text;
    size_t index;
  };
  constexpr size_t kNone = std::string::npos;
  // In code page 932, 0x95 0x5C is one character (a kanji) whose second byte is the backslash.
  const Case cases[] = {
      {1252, "C:\\\x95\\x", 4},  // no lead bytes: 0x5C after any byte is a backslash
      {1252, std::string("C:\\Tools\\\0", 10), 8},
      {1252, "file", kNone},
      {932, "C:\\\x95\\\\x", 5},
      {932, "C:\\\x95\\x", 2},
      {932, "C:\\\x95\x95\\x", 5},  // two lead bytes make a whole character
      {932, "C:\\\x95\x95\x95\\x", 2},
      {932, "\\\x95\\x", 0},  // the first byte is never a second byte
  };
  for (const Case& c : cases) {
    os.ansiCodePage = c.codePage;
    FillLeadByteSet(os);
    EXPECT_EQ(LastDelimiter(c.text, "\\:"), c.index) << c.codePage << " " << c.text;
  }
}

}  // namespace
}  // namespace launcher::test
