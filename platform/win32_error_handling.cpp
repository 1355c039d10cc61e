#include "platform/win32_error_handling.h"

#include "launcher/error_report.h"
#include "launcher/errors.h"
#include "launcher/launch_sequence.h"

#include <windows.h>

#include <excpt.h>

#include <cstdlib>
#include <exception>

namespace {

using Record = platform::TopLevelErrorHandler::Record;

// The code under which the launcher's own errors travel the exception chain.
constexpr DWORD kLauncherErrorCode = 0xE04C4E43;
constexpr DWORD kUnwinding = EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND;

platform::Platform* os = nullptr;

Record* ChainHead() {
  Record* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void SetChainHead(Record* head) {
  asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

bool InOurModule(DWORD address) {
  MEMORY_BASIC_INFORMATION info{};
  return ::VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) != 0 &&
         info.AllocationBase == ::GetModuleHandleA(nullptr);
}

// Reports an error that cannot be unwound and ends the process, as the outermost handler would
// in the same phase.
[[noreturn]] void ReportAndExit(launcher::Exception* error) {
  const launcher::OwnedError owned(error);
  if (launcher::State.MainRoutineRunning) {
    launcher::ShowErrorReport(*os, *owned);
    ::ExitProcess(1);
  }
  launcher::ShowRuntimeError(*os, owned->RuntimeErrorNumber(), owned->RaiseAddress());
  ::ExitProcess(static_cast<UINT>(owned->RuntimeErrorNumber()));
}

// Entered as if the faulting instruction had called it: its return address is that
// instruction's address plus one, so the unwinder finds the faulting function's frame.
[[noreturn]] __attribute__((regparm(3), noinline, used)) void ThrowFault(DWORD code, DWORD info0,
                                                                         DWORD info1) {
  const auto address = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)) - 1;
  throw launcher::ErrorFromFault(*os, code, info0, info1, address);
}

EXCEPTION_DISPOSITION Dispatch(EXCEPTION_RECORD* record, CONTEXT* context, bool askFilter) {
  if ((record->ExceptionFlags & kUnwinding) != 0) return ExceptionContinueSearch;
  const bool noncontinuable = (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0;
  // A catch cannot be reached without going on: the outermost frame takes the error.
  if (noncontinuable && !askFilter) return ExceptionContinueSearch;
  if (askFilter) {
    EXCEPTION_POINTERS pointers{record, context};
    // No answer means a debugger is attached: it gets the error where it arose.
    if (::UnhandledExceptionFilter(&pointers) == EXCEPTION_CONTINUE_SEARCH)
      return ExceptionContinueSearch;
  }
  // A raised error: RaiseException returns and the raise goes on as a C++ throw.
  if (record->ExceptionCode == kLauncherErrorCode && !noncontinuable)
    return ExceptionContinueExecution;

  const DWORD info0 = record->NumberParameters > 0 ? record->ExceptionInformation[0] : 0;
  const DWORD info1 = record->NumberParameters > 1 ? record->ExceptionInformation[1] : 0;
  // Code without unwind data of ours, or an exception after which the faulting code may not go
  // on: the clean-ups of the routines and the shutdown steps run only once the faulting frames
  // are left, which cannot happen here, so they are skipped; the report, or the runtime error
  // outside error reporting, and the exit status still come.
  if (noncontinuable || !InOurModule(context->Eip))
    ReportAndExit(launcher::ErrorFromFault(*os, record->ExceptionCode, info0, info1, context->Eip));
  context->Esp -= sizeof(DWORD);
  *reinterpret_cast<DWORD*>(context->Esp) = context->Eip + 1;
  context->Eax = record->ExceptionCode;
  context->Edx = info0;
  context->Ecx = info1;
  context->Eip = reinterpret_cast<DWORD>(&ThrowFault);
  return ExceptionContinueExecution;
}

extern "C" EXCEPTION_DISPOSITION __cdecl TopLevelFrameHandler(EXCEPTION_RECORD* record, void*,
                                                              CONTEXT* context, void*) {
  return Dispatch(record, context, true);
}

// The frame of a C++ catch: it takes the error without asking the filter.
extern "C" EXCEPTION_DISPOSITION __cdecl CatchFrameHandler(EXCEPTION_RECORD* record, void*,
                                                           CONTEXT* context, void*) {
  return Dispatch(record, context, false);
}

void EnterCatchScope(void* storage) {
  auto* record = static_cast<Record*>(storage);
  record->next = ChainHead();
  record->handler = reinterpret_cast<void*>(&CatchFrameHandler);
  SetChainHead(record);
}

void LeaveCatchScope(void* storage) {
  SetChainHead(static_cast<Record*>(storage)->next);
}

void RaiseThroughChain(launcher::Exception* error) {
  const ULONG_PTR arguments[] = {reinterpret_cast<ULONG_PTR>(error), error->RaiseAddress()};
  ::RaiseException(kLauncherErrorCode, 0, 2, arguments);
}

// Without a filter of the process, the system filter would start its own crash reporting
// instead of answering; with this one it answers "handle it" unless a debugger is attached.
LONG WINAPI HandleEverything(EXCEPTION_POINTERS*) {
  return EXCEPTION_EXECUTE_HANDLER;
}

// An error that reached code the unwinder cannot cross ends here, still reported.
void OnTerminate() {
  try {
    if (std::exception_ptr current = std::current_exception()) std::rethrow_exception(current);
  } catch (launcher::Exception* error) {
    ReportAndExit(error);
  } catch (...) {
  }
  launcher::ShowRuntimeError(*os, 217, 0);
  ::ExitProcess(217);
}

}  // namespace

namespace platform {

TopLevelErrorHandler::TopLevelErrorHandler(Platform& platform) {
  os = &platform;
  ::SetUnhandledExceptionFilter(HandleEverything);
  std::set_terminate(OnTerminate);
  launcher::SetRaiseHook(RaiseThroughChain);
  launcher::CatchScope::SetHooks(EnterCatchScope, LeaveCatchScope);
  record_.next = ChainHead();
  record_.handler = reinterpret_cast<void*>(&TopLevelFrameHandler);
  SetChainHead(&record_);
}

TopLevelErrorHandler::~TopLevelErrorHandler() {
  SetChainHead(record_.next);
  launcher::CatchScope::SetHooks(nullptr, nullptr);
  launcher::SetRaiseHook(nullptr);
}

}  // namespace platform
