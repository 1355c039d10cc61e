// The folder of any path under any set of lead bytes is the path up to and including its last
// backslash or colon that is not the second byte of a double-byte character.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace launcher;
  fuzz::FuzzInput input(data, size);
  fuzz::ResetProgramState();
  LeadByteSet = input.ByteSet();
  const std::string path = input.Rest();

  const std::string folder = ExtractFolderPart(path);
  const size_t last = fuzz::ModelLastDelimiter(path, LeadByteSet, "\\:");
  FUZZ_CHECK(folder == (last == std::string::npos ? "" : path.substr(0, last + 1)));
  return 0;
}
