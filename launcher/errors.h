// The launcher's error objects. Its routines raise them through Raise() and never catch them:
// what they hold is released by destructors on the way out.
#pragma once

#include <string>

namespace launcher {

class Exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  virtual ~Exception() = default;

  virtual const char* ClassName() const { return "Exception"; }
  const std::string& Message() const { return message_; }
  // The address of the instruction that follows the raising call.
  const void* RaiseAddress() const { return raiseAddress_; }
  void SetRaiseAddress(const void* address) { raiseAddress_ = address; }

 private:
  std::string message_;
  const void* raiseAddress_ = nullptr;
};

#define LAUNCHER_ERROR_CLASS(Name)                           \
  class Name : public Exception {                            \
   public:                                                   \
    using Exception::Exception;                              \
    const char* ClassName() const override { return #Name; } \
  }

LAUNCHER_ERROR_CLASS(ERegistryException);
LAUNCHER_ERROR_CLASS(EOutOfResources);

#undef LAUNCHER_ERROR_CLASS

// Kept out of line so that its return address is the raise point in the caller.
template <class Error>
[[noreturn]] __attribute__((noinline)) void Raise(Error error) {
  error.SetRaiseAddress(__builtin_return_address(0));
  throw error;
}

}  // namespace launcher
