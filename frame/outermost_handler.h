// The launcher's outermost error handler on Windows: a frame on the thread's structured-
// exception chain that lets the system's unhandled-exception filter see every error first (a
// debugger then gets it where it arose), and turns processor faults into the launcher's error
// objects, so that they unwind like raised errors.
#pragma once

#include "platform/platform.h"

namespace frame {

class TopLevelErrorHandler {
 public:
  explicit TopLevelErrorHandler(platform::Platform& os);
  ~TopLevelErrorHandler();
  TopLevelErrorHandler(const TopLevelErrorHandler&) = delete;
  TopLevelErrorHandler& operator=(const TopLevelErrorHandler&) = delete;

  struct Record {
    Record* next;
    void* handler;
  };

 private:
  Record record_;
};

}  // namespace frame
