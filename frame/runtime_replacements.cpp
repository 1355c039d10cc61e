// Replacements for the parts of the C++ runtime that would make up most of the shipped program:
// the verbose terminate handler (with its demangler) and the library's throwers of standard
// exceptions (with their strings). Linked into the executables directly, so that they are
// chosen before the runtime's own definitions are looked for.
#include "frame/runtime_replacements.h"

#include "launcher/errors.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <new>

// Stack protection with no runtime library behind it: the library's guard would import the
// Crypt API and seed itself before the entry runs. The value before seeding only serves frames
// that end before it.
extern "C" {
__attribute__((used)) std::uint32_t __stack_chk_guard = 0x5EB7A300;

// A smashed stack cannot be trusted to run the error report or any clean-up: the process ends
// at once, with the status Windows uses for an overrun stack buffer.
[[noreturn]] __attribute__((used, externally_visible, noinline, no_stack_protector)) void
__stack_chk_fail() {
  ::TerminateProcess(::GetCurrentProcess(), 0xC0000409);
  __builtin_unreachable();
}
}

namespace frame {

void SeedStackGuard() {
  FILETIME time;
  ::GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  const std::uint32_t sources[] = {
      time.dwLowDateTime,
      time.dwHighDateTime,
      counter.LowPart,
      static_cast<std::uint32_t>(counter.HighPart),
      ::GetTickCount(),
      ::GetCurrentProcessId(),
      ::GetCurrentThreadId(),
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&counter))};
  std::uint32_t guard = __stack_chk_guard;
  for (const std::uint32_t source : sources) {
    guard = (guard ^ source) * 0x9E3779B1u;
    guard ^= guard >> 15;
  }
  // A zero low byte stops an overflow by a string copy short of the rest of the guard.
  __stack_chk_guard = (guard & 0xFFFFFF00u) | 0x100u;
}

}  // namespace frame

namespace __gnu_cxx {
// The launcher installs its own terminate handler; this one is never in place.
void __verbose_terminate_handler() {
  std::abort();
}
}  // namespace __gnu_cxx

namespace std {
// Exhausted memory keeps its standard exception.
void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_bad_array_new_length() {
  throw bad_alloc();
}
// A misused container is a programming error: it is raised as one of the launcher's errors, so
// it is reported like any other.
void __throw_length_error(const char* what) {
  launcher::Raise<launcher::Exception>(what);
}
void __throw_logic_error(const char* what) {
  launcher::Raise<launcher::Exception>(what);
}
void __throw_out_of_range(const char* what) {
  launcher::Raise<launcher::Exception>(what);
}
void __throw_out_of_range_fmt(const char* what, ...) {
  launcher::Raise<launcher::Exception>(what);
}
void __throw_invalid_argument(const char* what) {
  launcher::Raise<launcher::Exception>(what);
}
}  // namespace std
