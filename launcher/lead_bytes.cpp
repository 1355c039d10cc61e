#include "launcher/lead_bytes.h"

#include "launcher/program_state.h"

namespace launcher {

using platform::Platform;
using win::CPINFO;
using win::MAX_LEADBYTES;
using win::OSVERSIONINFOA;
using win::VER_PLATFORM_WIN32_NT;

namespace {

bool IsLeadByte(unsigned char byte) {
  return State.LeadByteSet.test(byte);
}

bool IsSecondByte(std::string_view text, size_t index) {
  size_t run = 0;
  while (run < index && IsLeadByte(static_cast<unsigned char>(text[index - run - 1]))) ++run;
  return run % 2 == 1;
}

}  // namespace

void ReadPlatformId(Platform& os) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  State.PlatformIsNT = os.GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void FillLeadByteSet(Platform& os) {
  State.LeadByteSet.reset();
  // A failed GetCPInfo leaves the zeroed record: no ranges, an empty set.
  CPINFO info{};
  os.GetCPInfo(os.GetACP(), &info);
  for (size_t i = 0; i + 1 < MAX_LEADBYTES; i += 2) {
    const unsigned first = info.LeadByte[i];
    const unsigned last = info.LeadByte[i + 1];
    if (first == 0 && last == 0) break;
    for (unsigned byte = first; byte <= last; ++byte) State.LeadByteSet.set(byte);
  }
}

size_t LastDelimiter(std::string_view text, std::string_view delimiters) {
  for (size_t i = text.size(); i-- > 0;) {
    const char byte = text[i];
    if (byte == '\0' || delimiters.find(byte) == std::string_view::npos) continue;
    if (!IsSecondByte(text, i)) return i;
    --i;  // skip the character's lead byte; the scan goes on before it
  }
  return std::string_view::npos;
}

}  // namespace launcher
