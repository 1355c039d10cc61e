// Replacements for the parts of the C++ runtime that would make up most of the shipped program:
// the verbose terminate handler (with its demangler) and the library's throwers of standard
// exceptions (with their strings). Linked into the executables directly, so that they are
// chosen before the runtime's own definitions are looked for.
#include "launcher/errors.h"

#include <cstdlib>
#include <new>

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
