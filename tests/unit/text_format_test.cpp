#include "launcher/text_format.h"

#include "error_report_fixture.h"

namespace launcher::test {
namespace {

// The error report's templates are filled by FormatTo; its tests keep the report's suite name.
TEST_F(ErrorReportTest, TemplatePlaceholdersAreFilledAndCut) {
  struct Case {
    std::string pattern;
    std::vector<FormatArg> args;
    size_t capacity;
    std::string text;
  };
  const Case cases[] = {
      {"a%sb", {std::string_view("XY")}, 64, "aXYb"},
      {"%p|%x|%x", {0xABCu, 0xABCu, 0u}, 64, "00000ABC|ABC|0"},
      {"%p", {0xFFFFFFFFu}, 64, "FFFFFFFF"},
      {"100%% %d %s", {std::string_view("x")}, 64, "100% %d x"},
      {"%s and %s", {std::string_view("one")}, 64, "one and %s"},  // more places than values
      {"abcdef", {}, 4, "abc"},
      {"%s!", {std::string_view("abcdef")}, 5, "abcd"},
      {"%p", {0x1234u}, 6, "00001"},
      {"x", {}, 1, ""},
      // A lone % at the end is copied, and nothing past the template is read: the byte after
      // it (below, "X") is not the template's.
      {"50%", {std::string_view("s")}, 64, "50%"},
      {"%", {}, 64, "%"},
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(c.capacity + 1, '#');
    const std::string followed = c.pattern + "X";
    const size_t length =
        FormatTo(buffer.data(), c.capacity, std::string_view(followed).substr(0, c.pattern.size()),
                 std::span<const FormatArg>(c.args));
    EXPECT_EQ(std::string(buffer.data(), length), c.text) << c.pattern;
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_EQ(buffer[c.capacity], '#');
  }
}

}  // namespace
}  // namespace launcher::test
