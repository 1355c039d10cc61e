// Everything the launcher keeps between calls, for the whole run, in one place: a fresh
// process's values are the members' initial ones, and tests restore them with one call.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>

#include "launcher/errors.h"
#include "launcher/presence_check.h"

namespace launcher {

class TApplication;
struct FaultTexts;

struct ProgramState {
  // Where 64-bit Windows lists the uninstall entries of 32-bit software; emptied at shutdown.
  std::string UninstallKeyPath{kInitialUninstallKeyPath};
  // Byte values that begin a double-byte character; empty for a single-byte code page.
  std::bitset<256> LeadByteSet;
  // Whether GetVersionExA reported the Windows NT platform.
  bool PlatformIsNT = false;
  // The process exit status; a normal run leaves it 0, whatever the installer did.
  std::int32_t ExitStatus = 0;
  // True while the main routine runs, the phase in which an error gets the report box; before
  // it and after it, an error becomes a runtime error.
  bool MainRoutineRunning = false;
  // True from StartErrorReporting to StopErrorReporting: an error that escapes then gets the
  // report box and exit status 1; outside that time it becomes a runtime error.
  bool ErrorReportingActive = false;
  // Made by StartErrorReporting and released by StopErrorReporting, so that a fault or a
  // failed memory request needs neither memory nor a resource lookup.
  FaultTexts* PreparedFaultTexts = nullptr;
  Exception* PreparedOutOfMemory = nullptr;
  Exception* PreparedInvalidPointer = nullptr;
  // Set by the Windows build (SetRaiseHook, CatchScope::SetHooks), or by a test.
  RaiseHook ErrorRaiseHook = nullptr;
  CatchScope::Hook CatchScopeEnterHook = nullptr;
  CatchScope::Hook CatchScopeLeaveHook = nullptr;
  // The application object whose window gets the messages; none outside its lifetime.
  TApplication* CurrentApplication = nullptr;
};

extern ProgramState State;

// Releases what the state owns, as StopErrorReporting does, then gives every member its initial
// value. A test that relies on the platform being NT or not sets PlatformIsNT itself, after.
void ResetProgramState();

}  // namespace launcher
