#include "launcher/errors.h"

namespace launcher {

namespace {
RaiseHook raiseHook = nullptr;
CatchScope::Hook enterCatchScope = nullptr;
CatchScope::Hook leaveCatchScope = nullptr;
}  // namespace

void SetRaiseHook(RaiseHook hook) {
  raiseHook = hook;
}

void RaiseError(Exception* error, std::uintptr_t address) {
  error->SetRaiseAddress(address);
  if (raiseHook != nullptr) raiseHook(error);
  throw error;
}

void CatchScope::SetHooks(Hook enter, Hook leave) {
  enterCatchScope = enter;
  leaveCatchScope = leave;
}

CatchScope::CatchScope() : record_{} {
  if (enterCatchScope != nullptr) enterCatchScope(record_);
}

CatchScope::~CatchScope() {
  if (leaveCatchScope != nullptr) leaveCatchScope(record_);
}

}  // namespace launcher
