#include "launcher/program_state.h"

#include "launcher/error_report.h"

namespace launcher {

ProgramState State;

void ResetProgramState() {
  // Deletes the objects made in advance and removes the new-handler that raises one of them.
  StopErrorReporting();
  State = ProgramState{};
}

}  // namespace launcher
