// What the launcher knows of the system's text encoding: the lead bytes of double-byte
// characters in the system's ANSI code page, the one every ANSI call uses, read once at
// start-up.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/platform.h"

namespace launcher {

// Read at start-up, into State.PlatformIsNT and State.LeadByteSet.
void ReadPlatformId(platform::Platform& os);
void FillLeadByteSet(platform::Platform& os);

// Index of the last byte of text that is one of the delimiters and not the second byte of a
// double-byte character, or npos. NUL bytes are passed over.
size_t LastDelimiter(std::string_view text, std::string_view delimiters);

}  // namespace launcher
