// The fixture of the error report's tests, shared with the tests of its text templates: error
// reporting started against a program, a system module and a region of no module.
#pragma once

#include "launcher/error_report.h"
#include "launcher_test.h"

namespace launcher::test {

inline const std::string kEol = "\r\n";
inline constexpr std::uintptr_t kProgramBase = 0x400000;

class ErrorReportTest : public LauncherTest {
 protected:
  ErrorReportTest() {
    os.regions = {{kProgramBase, kProgramBase + 0x20000, kProgramBase, true},
                  {0x7C800000, 0x7C900000, 0x7C800000, true},
                  {0x00900000, 0x00910000, 0x00900000, false}};
    os.modulePaths[0x7C800000] = "C:\\windows\\system32\\kernel32.dll";
    StartErrorReporting(os);
  }
  ~ErrorReportTest() override { StopErrorReporting(); }

  std::string Report(const Exception& error, std::uintptr_t address, size_t capacity = 1024) {
    std::vector<char> buffer(capacity + 16, '#');
    const size_t length = FormatErrorReport(os, error, address, buffer.data(), capacity);
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_EQ(buffer[capacity], '#') << "written past the buffer";
    return std::string(buffer.data(), length);
  }

  OwnedError Fault(win::DWORD code, std::uintptr_t info0, std::uintptr_t info1,
                   std::uintptr_t address) {
    return OwnedError(ErrorFromFault(os, code, info0, info1, address));
  }
};

}  // namespace launcher::test
