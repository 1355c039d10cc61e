// The last-resort handling of errors that escape the launcher's logic: the French report box,
// the "Runtime error" box, the error objects made from processor faults, and the box of an
// error inside the application window's message handling.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/errors.h"
#include "platform/platform.h"

namespace launcher {

// Makes the memory-failure error objects in advance, reads the fault messages, and has a
// failed memory request raise EOutOfMemory; State.ErrorReportingActive says it has.
void StartErrorReporting(platform::Platform& os);
void StopErrorReporting();

// The error object for a processor fault with the system exception code and the record's
// first two information words, at the faulting instruction's address.
Exception* ErrorFromFault(platform::Platform& os, win::DWORD code, std::uintptr_t info0,
                          std::uintptr_t info1, std::uintptr_t address);

// Writes the report of error into buffer (capacity characters, terminated); returns its length.
size_t FormatErrorReport(platform::Platform& os, const Exception& error,
                         std::uintptr_t raiseAddress, char* buffer, size_t capacity);
void ShowErrorReport(platform::Platform& os, const Exception& error);
void ShowRuntimeError(platform::Platform& os, int number, std::uintptr_t address);
// The box for an error in the application window's own handling of a message.
void ShowHostError(platform::Platform& os, win::HWND window, const Exception& error);

}  // namespace launcher
