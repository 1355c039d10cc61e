// A test-only launcher: the shipped program's sources over a platform that injects one fault,
// chosen by the environment variable LAUNCHER_TEST_FAULT, so that the end-to-end tests can
// watch the error handling that the shipped program cannot be made to reach. Never shipped.
#include "frame/process.h"
#include "frame/runtime_replacements.h"
#include "platform/win32_platform.h"

#include "launcher/errors.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {
namespace {

constexpr UINT kFaultyMessage = 0x0401;  // WM_USER + 1

// Kept out of line, in the program's own code, so that faults arise where the report can
// name the program.
volatile int sink;
__attribute__((noinline)) void ReadNull() {
  sink = *static_cast<volatile int*>(nullptr);
}
__attribute__((noinline)) void DivideByZero() {
  volatile int divisor = 0;
  sink = 1000 / divisor;
}
__attribute__((noinline)) void IllegalInstruction() {
  asm volatile("ud2");
}
// An exception after which the raising code may not go on, with a code of no class of its own.
constexpr DWORD kNoncontinuableCode = 0xE0000042;
__attribute__((noinline)) void RaiseNoncontinuable() {
  ::RaiseException(kNoncontinuableCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}
__attribute__((noinline)) void ExhaustMemory() {
  volatile size_t huge = 0x7FFFFFF0;
  void* volatile block = ::operator new(huge);
  ::operator delete(block);
}

// The head of an override, with the call's signature from platform/windows_calls.h.
#define OVERRIDING(Result, Name, Parameters) Result Name Parameters override

class FaultInjectingPlatform final : public Win32Platform {
 public:
  explicit FaultInjectingPlatform(std::string fault) : fault_(std::move(fault)) {}

  LAUNCHER_CALL_RegOpenKeyExA(OVERRIDING) {
    if (fault_ == "read-null") ReadNull();
    if (fault_ == "divide-by-zero") DivideByZero();
    if (fault_ == "illegal-instruction") IllegalInstruction();
    if (fault_ == "out-of-memory") ExhaustMemory();
    if (fault_ == "noncontinuable") RaiseNoncontinuable();
    if (fault_ == "raise-in-check") launcher::Raise<launcher::Exception>("Erreur de test");
    return Win32Platform::RegOpenKeyExA(key, subKey, options, desired, result);
  }

  LAUNCHER_CALL_RegisterClassA(OVERRIDING) {
    if (fault_ == "class-registration") return 0;
    if (fault_ == "noncontinuable-at-start") RaiseNoncontinuable();
    return Win32Platform::RegisterClassA(wndClass);
  }

  LAUNCHER_CALL_DestroyWindow(OVERRIDING) {
    const BOOL destroyed = Win32Platform::DestroyWindow(window);
    if (fault_ == "shutdown") launcher::Raise<launcher::Exception>("Erreur de fermeture");
    return destroyed;
  }

  // The first pump of the wait posts a message whose handling fails, or fails itself.
  LAUNCHER_CALL_PeekMessageA(OVERRIDING) {
    if (++peeks_ == 1 && fault_ == "window-handler")
      ::PostMessageA(::FindWindowA("TApplication", nullptr), kFaultyMessage, 0, 0);
    if (peeks_ == 1 && fault_ == "pump") launcher::Raise<launcher::Exception>("Erreur de pompe");
    return Win32Platform::PeekMessageA(msg, window, filterMin, filterMax, removeMessage);
  }

  LAUNCHER_CALL_DefWindowProcA(OVERRIDING) {
    if (message == kFaultyMessage)
      launcher::Raise<launcher::Exception>("Erreur dans la fen\xEAtre!");
    return Win32Platform::DefWindowProcA(window, message, wParam, lParam);
  }

 private:
  std::string fault_;
  int peeks_ = 0;
};

#undef OVERRIDING

}  // namespace
}  // namespace platform

// Started like the shipped program.
__attribute__((no_stack_protector)) int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  frame::SeedStackGuard();
  frame::HardenProcess();
  const char* fault = std::getenv("LAUNCHER_TEST_FAULT");
  platform::FaultInjectingPlatform os(fault ? fault : "");
  frame::RunLauncherProcess(os);
}
