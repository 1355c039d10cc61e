// The last delimiter of any ANSI text under any set of lead bytes is its last backslash (or
// colon, when asked for) that is not the second byte of a double-byte character.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace launcher;
  fuzz::FuzzInput input(data, size);
  ResetProgramState();
  State.LeadByteSet = input.ByteSet();
  const std::string_view delimiters = input.Byte() & 1 ? "\\:" : "\\";
  const std::string text = input.Rest();

  FUZZ_CHECK(LastDelimiter(text, delimiters) ==
             fuzz::ModelLastDelimiter(text, State.LeadByteSet, delimiters));
  return 0;
}
