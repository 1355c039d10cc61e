// The launcher's error objects. Errors are raised as pointers to objects of a named class;
// the launcher's routines never catch them and release what they hold through destructors.
// Only the outermost handler, and the application window's handler, take them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace launcher {

class Exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  virtual ~Exception() = default;
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;

  virtual const char* ClassName() const { return "Exception"; }
  // The status that the error gives when it ends the process before or after error reporting:
  // 217 for a raised error, a processor fault's own number otherwise.
  virtual int RuntimeErrorNumber() const { return 217; }
  const std::string& Message() const { return message_; }
  // The address of the instruction after the raising call, or of the faulting instruction.
  std::uintptr_t RaiseAddress() const { return raiseAddress_; }
  void SetRaiseAddress(std::uintptr_t address) { raiseAddress_ = address; }
  // The objects made in advance for memory failures are raised again and again, never released.
  bool MadeInAdvance() const { return madeInAdvance_; }
  void SetMadeInAdvance() { madeInAdvance_ = true; }

 private:
  std::string message_;
  std::uintptr_t raiseAddress_ = 0;
  bool madeInAdvance_ = false;
};

#define LAUNCHER_ERROR_CLASS(Name, Base)                     \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

LAUNCHER_ERROR_CLASS(ERegistryException, Exception);
LAUNCHER_ERROR_CLASS(EOutOfResources, Exception);
LAUNCHER_ERROR_CLASS(EOutOfMemory, Exception);
LAUNCHER_ERROR_CLASS(EInvalidPointer, Exception);

#undef LAUNCHER_ERROR_CLASS

// Releases a caught error object, unless it is one made in advance.
struct ErrorDeleter {
  void operator()(Exception* error) const {
    if (error != nullptr && !error->MadeInAdvance()) delete error;
  }
};
using OwnedError = std::unique_ptr<Exception, ErrorDeleter>;

// Called with every error before it is thrown; on Windows it lets the system's unhandled-
// exception filter and the handlers on the thread's exception chain see the error first.
using RaiseHook = void (*)(Exception* error);
void SetRaiseHook(RaiseHook hook);

// Raises error (taking ownership) from address.
[[noreturn]] void RaiseError(Exception* error, std::uintptr_t address);

// Makes an error of class Error and raises it from the caller's point of call. Kept out of line
// so that its return address is in the caller.
template <class Error, class... Arguments>
[[noreturn]] __attribute__((noinline)) void Raise(Arguments&&... arguments) {
  const auto address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  RaiseError(new Error(std::forward<Arguments>(arguments)...), address);
}

// Where a C++ catch takes the program's errors, the system's exception search must stop
// too: a scope of this class, made inside the try block, tells it so on Windows.
class CatchScope {
 public:
  CatchScope();
  ~CatchScope();
  CatchScope(const CatchScope&) = delete;
  CatchScope& operator=(const CatchScope&) = delete;

  using Hook = void (*)(void* record);
  static void SetHooks(Hook enter, Hook leave);

 private:
  alignas(void*) unsigned char record_[4 * sizeof(void*)];
};

}  // namespace launcher
