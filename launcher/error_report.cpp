#include "launcher/error_report.h"

#include <array>
#include <charconv>
#include <cstring>
#include <new>
#include <string>

#include "launcher/lead_bytes.h"
#include "launcher/program_state.h"
#include "launcher/resource_ids.h"
#include "launcher/resource_text.h"
#include "launcher/text_format.h"

namespace launcher {

using platform::Platform;
using win::DWORD;
using win::HMODULE;
using win::HWND;
using win::MB_ICONSTOP;
using win::MB_OK;
using win::MB_TASKMODAL;
using win::MEM_COMMIT;
using win::MEMORY_BASIC_INFORMATION;
using win::UINT;
using win::WM_CANCELMODE;

namespace {

#define LAUNCHER_FAULT_CLASS(Name, Number)                     \
  class Name : public Exception {                              \
   public:                                                     \
    using Exception::Exception;                                \
    const char* ClassName() const override { return #Name; }   \
    int RuntimeErrorNumber() const override { return Number; } \
  }

LAUNCHER_FAULT_CLASS(EAccessViolation, 216);
LAUNCHER_FAULT_CLASS(ERangeError, 201);
LAUNCHER_FAULT_CLASS(EUnderflow, 206);
LAUNCHER_FAULT_CLASS(EZeroDivide, 200);
LAUNCHER_FAULT_CLASS(EInvalidOp, 207);
LAUNCHER_FAULT_CLASS(EOverflow, 205);
LAUNCHER_FAULT_CLASS(EDivByZero, 200);
LAUNCHER_FAULT_CLASS(EIntOverflow, 215);
LAUNCHER_FAULT_CLASS(EPrivilege, 218);
LAUNCHER_FAULT_CLASS(EStackOverflow, 202);
LAUNCHER_FAULT_CLASS(EControlC, 217);
LAUNCHER_FAULT_CLASS(EExternalException, 255);

#undef LAUNCHER_FAULT_CLASS

template <class Error>
Exception* Make(std::string message) {
  return new Error(std::move(message));
}

struct Fault {
  DWORD code;
  Exception* (*make)(std::string message);
  UINT messageId;
};

constexpr DWORD kAccessViolation = 0xC0000005;

// The system exception codes that have a class of their own; any other code is an
// EExternalException.
constexpr Fault kFaults[] = {
    {kAccessViolation, Make<EAccessViolation>, 0},
    {0xC000008C, Make<ERangeError>, IDS_RANGE_ERROR},
    {0xC000008D, Make<EUnderflow>, IDS_FLOAT_UNDERFLOW},
    {0xC000008E, Make<EZeroDivide>, IDS_FLOAT_ZERO_DIVIDE},
    {0xC000008F, Make<EInvalidOp>, IDS_INVALID_FLOAT_OPERATION},
    {0xC0000090, Make<EInvalidOp>, IDS_INVALID_FLOAT_OPERATION},
    {0xC0000091, Make<EOverflow>, IDS_FLOAT_OVERFLOW},
    {0xC0000092, Make<EInvalidOp>, IDS_INVALID_FLOAT_OPERATION},
    {0xC0000093, Make<EUnderflow>, IDS_FLOAT_UNDERFLOW},
    {0xC0000094, Make<EDivByZero>, IDS_INTEGER_ZERO_DIVIDE},
    {0xC0000095, Make<EIntOverflow>, IDS_INTEGER_OVERFLOW},
    {0xC0000096, Make<EPrivilege>, IDS_PRIVILEGED_INSTRUCTION},
    {0xC00000FD, Make<EStackOverflow>, IDS_STACK_OVERFLOW},
    {0xC000013A, Make<EControlC>, IDS_CONTROL_C},
};

}  // namespace

// Texts read when error reporting starts, so that a fault needs no resource lookup.
struct FaultTexts {
  std::string accessViolation, accessViolationInModule, read, write, external;
  std::array<std::string, std::size(kFaults)> messages;
};

namespace {

// operator new calls this when memory runs out: the error made in advance is raised from it.
void RaiseOutOfMemory() {
  RaiseError(State.PreparedOutOfMemory,
             reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

// A module's path as the report reads it: 260 characters and a NUL.
using ModulePath = char[261];

// The file name of the module that holds address: its allocation base, when the region is
// committed and belongs to a loaded module.
bool ModuleOfAddress(Platform& os, std::uintptr_t address, ModulePath& path, std::uintptr_t& base) {
  MEMORY_BASIC_INFORMATION info{};
  if (os.VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0)
    return false;
  if (info.State != MEM_COMMIT) return false;
  if (os.GetModuleFileNameA(reinterpret_cast<HMODULE>(info.AllocationBase), path, sizeof path) == 0)
    return false;
  path[sizeof path - 1] = '\0';
  base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
  return true;
}

std::string_view FileNameOf(const char* path, std::string_view delimiters) {
  const std::string_view text(path, strnlen(path, sizeof(ModulePath) - 1));
  const size_t last = LastDelimiter(text, delimiters);
  return last == std::string_view::npos ? text : text.substr(last + 1);
}

std::string AccessViolationMessage(Platform& os, std::uintptr_t info0, std::uintptr_t info1,
                                   std::uintptr_t address) {
  const FaultTexts empty;
  const FaultTexts& texts = State.PreparedFaultTexts ? *State.PreparedFaultTexts : empty;
  const std::string& kind = info0 == 0 ? texts.read : texts.write;
  ModulePath path = {};
  std::uintptr_t base;
  if (ModuleOfAddress(os, address, path, base))
    return Format(texts.accessViolationInModule,
                  {static_cast<std::uint32_t>(address), FileNameOf(path, "\\:"), kind,
                   static_cast<std::uint32_t>(info1)});
  return Format(texts.accessViolation,
                {static_cast<std::uint32_t>(address), kind, static_cast<std::uint32_t>(info1)});
}

}  // namespace

void StartErrorReporting(Platform& os) {
  State.PreparedOutOfMemory = new EOutOfMemory(ResourceText(os, IDS_OUT_OF_MEMORY));
  State.PreparedOutOfMemory->SetMadeInAdvance();
  State.PreparedInvalidPointer = new EInvalidPointer(ResourceText(os, IDS_INVALID_POINTER));
  State.PreparedInvalidPointer->SetMadeInAdvance();
  FaultTexts* texts = new FaultTexts{
      ResourceText(os, IDS_ACCESS_VIOLATION),   ResourceText(os, IDS_ACCESS_VIOLATION_IN_MODULE),
      ResourceText(os, IDS_ACCESS_READ),        ResourceText(os, IDS_ACCESS_WRITE),
      ResourceText(os, IDS_EXTERNAL_EXCEPTION), {}};
  State.PreparedFaultTexts = texts;
  for (size_t i = 0; i < std::size(kFaults); ++i)
    if (kFaults[i].messageId != 0) texts->messages[i] = ResourceText(os, kFaults[i].messageId);
  std::set_new_handler(RaiseOutOfMemory);
  State.ErrorReportingActive = true;
}

void StopErrorReporting() {
  State.ErrorReportingActive = false;
  std::set_new_handler(nullptr);
  delete State.PreparedFaultTexts;
  State.PreparedFaultTexts = nullptr;
  delete State.PreparedOutOfMemory;
  State.PreparedOutOfMemory = nullptr;
  delete State.PreparedInvalidPointer;
  State.PreparedInvalidPointer = nullptr;
}

Exception* ErrorFromFault(Platform& os, DWORD code, std::uintptr_t info0, std::uintptr_t info1,
                          std::uintptr_t address) {
  Exception* error = nullptr;
  for (size_t i = 0; i < std::size(kFaults) && error == nullptr; ++i) {
    if (kFaults[i].code != code) continue;
    error =
        kFaults[i].make(code == kAccessViolation ? AccessViolationMessage(os, info0, info1, address)
                        : State.PreparedFaultTexts ? State.PreparedFaultTexts->messages[i]
                                                   : std::string());
  }
  if (error == nullptr)
    error = new EExternalException(
        Format(State.PreparedFaultTexts ? State.PreparedFaultTexts->external : "", {code}));
  error->SetRaiseAddress(address);
  return error;
}

size_t FormatErrorReport(Platform& os, const Exception& error, std::uintptr_t raiseAddress,
                         char* buffer, size_t capacity) {
  ModulePath path = {};
  std::uintptr_t base = 0;
  std::uintptr_t shown;
  if (ModuleOfAddress(os, raiseAddress, path, base)) {
    shown = raiseAddress - base;
  } else {
    // Not in any module: name the program, as if the address were in its code section.
    os.GetModuleFileNameA(os.GetModuleHandleA(nullptr), path, sizeof path);
    path[sizeof path - 1] = '\0';
    // Deliberate: the address minus 0x1000, the code section's usual offset, though no base was
    // found (a test pins this).
    shown = raiseAddress == 0 ? 0 : raiseAddress - 0x1000;
  }
  const std::string& message = error.Message();
  // Deliberate: a period unless the message ends in one, unlike the host box's rule below (a test
  // pins this).
  const std::string_view period = !message.empty() && message.back() != '.' ? "." : "";

  // Deliberate: a template of at most 255 characters, like the other fixed buffers of the boxes.
  char pattern[256] = {};
  os.LoadStringA(os.GetModuleHandleA(nullptr), IDS_ERROR_REPORT, pattern, sizeof pattern);
  const std::string_view className(error.ClassName(), strnlen(error.ClassName(), 255));
  // Deliberate: the module's name is cut at its last backslash only, where the access violation's
  // message also cuts at a colon (a test pins this).
  return FormatTo(
      buffer, capacity, pattern,
      {className, FileNameOf(path, "\\"), static_cast<std::uint32_t>(shown), message, period});
}

void ShowErrorReport(Platform& os, const Exception& error) {
  // Deliberate: fixed buffers, so a long report is cut at 1023 characters and the title at 63 (a
  // test pins this).
  char text[1024];
  FormatErrorReport(os, error, error.RaiseAddress(), text, sizeof text);
  char title[64] = {};
  os.LoadStringA(os.GetModuleHandleA(nullptr), IDS_ERROR_REPORT_TITLE, title, sizeof title);
  os.MessageBoxA(nullptr, text, title, MB_TASKMODAL | MB_ICONSTOP | MB_OK);
}

void ShowRuntimeError(Platform& os, int number, std::uintptr_t address) {
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  char text[64];
  FormatTo(text, sizeof text, "Runtime error %s at %p",
           {std::string_view(digits, end - digits), static_cast<std::uint32_t>(address)});
  // Deliberate: in English, without an icon or owner, unlike the launcher's other boxes (a test
  // pins this).
  os.MessageBoxA(nullptr, text, "Error", MB_OK);
}

void ShowHostError(Platform& os, HWND window, const Exception& error) {
  if (const HWND capture = os.GetCapture()) os.SendMessageA(capture, WM_CANCELMODE, 0, 0);

  // A period only after a last character above the period itself: letters, digits, and signs from
  // 0x2F on; the first byte of a double-byte character decides for it. Deliberately not the
  // report's rule (a test pins this).
  const std::string& message = error.Message();
  size_t lastStart = 0;
  for (size_t i = 0; i < message.size();) {
    lastStart = i;
    const bool doubleByte =
        State.LeadByteSet.test(static_cast<unsigned char>(message[i])) && i + 1 < message.size();
    i += doubleByte ? 2 : 1;
  }
  std::string text = message;
  if (!message.empty() && static_cast<unsigned char>(message[lastStart]) > '.') text += '.';

  char title[256] = {};
  os.GetWindowTextA(window, title, sizeof title);
  os.MessageBoxA(window, text.c_str(), title, MB_ICONSTOP | MB_OK);
}

}  // namespace launcher
