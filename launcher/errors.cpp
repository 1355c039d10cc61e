#include "launcher/errors.h"

#include "launcher/program_state.h"

namespace launcher {

void SetRaiseHook(RaiseHook hook) {
  State.ErrorRaiseHook = hook;
}

void RaiseError(Exception* error, std::uintptr_t address) {
  error->SetRaiseAddress(address);
  if (State.ErrorRaiseHook != nullptr) State.ErrorRaiseHook(error);
  throw error;
}

void CatchScope::SetHooks(Hook enter, Hook leave) {
  State.CatchScopeEnterHook = enter;
  State.CatchScopeLeaveHook = leave;
}

CatchScope::CatchScope() : record_{} {
  if (State.CatchScopeEnterHook != nullptr) State.CatchScopeEnterHook(record_);
}

CatchScope::~CatchScope() {
  if (State.CatchScopeLeaveHook != nullptr) State.CatchScopeLeaveHook(record_);
}

}  // namespace launcher
