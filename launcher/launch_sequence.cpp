#include "launcher/launch_sequence.h"

#include <algorithm>
#include <exception>
#include <new>
#include <optional>

#include "launcher/elevated_run.h"
#include "launcher/error_report.h"
#include "launcher/errors.h"
#include "launcher/last_error.h"
#include "launcher/lead_bytes.h"
#include "launcher/presence_check.h"
#include "launcher/program_state.h"
#include "launcher/resource_ids.h"
#include "launcher/resource_text.h"

namespace launcher {

using platform::Platform;
using win::DWORD;

std::u16string GetExecutablePath(Platform& os, DWORD& error) {
  std::u16string path(kExecutablePathBufferSize, u'\0');
  for (;;) {
    const auto size = static_cast<DWORD>(path.size());
    const DWORD length = os.GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0) error = LastErrorOr(os, win::ERROR_BAD_PATHNAME);
    // A result that fills the buffer may be a cut path: read it again into a larger one.
    if (length < size || size == kLongestPathBufferSize) {
      path.resize(std::min(length, size));
      return path;
    }
    path.resize(std::min(size * 2, kLongestPathBufferSize));
  }
}

std::u16string ExtractFolderPart(std::u16string_view path) {
  const size_t delimiter = path.find_last_of(u"\\:");
  if (delimiter == std::u16string_view::npos) return {};
  return std::u16string(path.substr(0, delimiter + 1));
}

bool IsPlainlyAbsoluteFolder(std::u16string_view folder) {
  const auto isLetter = [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  };
  // A colon past a drive's would name a stream of a file, not a folder.
  const size_t colon = folder.find(u':', 2);
  if (colon != std::u16string_view::npos || !folder.ends_with(u'\\')) return false;
  if (folder.size() >= 3 && isLetter(folder[0]) && folder.substr(1, 2) == u":\\") return true;
  // \\server\...: a server's name, not the \\?\ or \\.\ of a device or a raw path.
  if (!folder.starts_with(u"\\\\")) return false;
  const std::u16string_view server = folder.substr(2, folder.find(u'\\', 2) - 2);
  return !server.empty() && server != u"." &&
         server.find_first_of(u"?*") == std::u16string_view::npos;
}

InstallerPath FindInstaller(Platform& os) {
  DWORD error = 0;
  const std::u16string folder = ExtractFolderPart(GetExecutablePath(os, error));
  if (error != 0) return {{}, error};
  // Without a folder the shell would look for a bare name in the current folder, then on the
  // PATH; with a drive-relative one (C:) in that drive's current folder: some other file than
  // the one shipped beside the launcher.
  if (!IsPlainlyAbsoluteFolder(folder)) return {{}, win::ERROR_BAD_PATHNAME};
  std::u16string path = folder + std::u16string(kInstallerFileName);
  // The shell takes the path quoted, within MAX_PATH with its terminating NUL.
  if (path.size() + 2 >= win::MAX_PATH) return {{}, win::ERROR_FILENAME_EXCED_RANGE};
  return {std::move(path), 0};
}

void InstallRedistIfMissing(Platform& os, TApplication& app) {
  std::int32_t code = 0;
  if (!IsRedistInstalled(os)) {
    const InstallerPath installer = FindInstaller(os);
    if (installer.failure != 0) {
      ReportStartFailure(os, installer.failure);
    } else {
      code =
          RunAsAdminAndWait(os, app, nullptr, installer.path, std::u16string(kInstallerParameters));
    }
  }
  // Deliberate: any code but 0 is reported as the installer's failure, 259 too, which is the code
  // of an installer left running when the wait was given up or failed (a test pins this).
  if (code != 0) OutputDebugLine(os, IDS_INSTALL_ERROR_PREFIX, std::to_string(code));
}

namespace {

struct RuntimeError {
  int number;
  std::uintptr_t address;
};

// The runtime error that an escaped error becomes outside error reporting; releases the error.
// Decided where the error is caught, while the error objects made in advance still exist: a
// start-up or shutdown step that failed is followed by error reporting's own release of them.
RuntimeError AsRuntimeError(std::exception_ptr escaped) {
  try {
    std::rethrow_exception(escaped);
  } catch (Exception* raw) {
    const OwnedError error(raw);
    return RuntimeError{error->RuntimeErrorNumber(), error->RaiseAddress()};
  } catch (const std::bad_alloc&) {
    return RuntimeError{203, 0};
  } catch (...) {
    return RuntimeError{217, 0};
  }
}

// What the host starts before the main routine and stops after it.
struct HostState {
  Platform& os;
  std::unique_ptr<TApplication> app;
};

// The host's steps, each start beside its stop: started in this order, stopped in reverse. The
// platform id and the lead bytes are read once and leave nothing to stop.
struct HostStep {
  void (*start)(HostState&);
  void (*stop)(HostState&);
};
constexpr HostStep kHostSteps[] = {
    {[](HostState& host) { StartErrorReporting(host.os); },
     [](HostState&) { StopErrorReporting(); }},
    {[](HostState& host) {
       ReadPlatformId(host.os);
       FillLeadByteSet(host.os);
     },
     [](HostState&) {}},
    {[](HostState& host) { host.app = std::make_unique<TApplication>(host.os); },
     [](HostState& host) {
       if (host.app) host.app->Destroy();
       host.app.reset();
     }},
};

class Host {
 public:
  explicit Host(Platform& os) : state_{os, nullptr} {}
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // A step that fails is stopped with every step started before it; its error is then the
  // result.
  std::optional<RuntimeError> StartUp() {
    for (const HostStep& step : kHostSteps) {
      ++started_;
      try {
        step.start(state_);
      } catch (...) {
        const RuntimeError failure = AsRuntimeError(std::current_exception());
        ShutDown();
        return failure;
      }
    }
    return std::nullopt;
  }

  // An error in one step lets the remaining steps run; the first one is the result.
  std::optional<RuntimeError> ShutDown() {
    std::optional<RuntimeError> failure;
    for (; started_ > 0; --started_) {
      try {
        kHostSteps[started_ - 1].stop(state_);
      } catch (...) {
        const RuntimeError error = AsRuntimeError(std::current_exception());
        if (!failure) failure = error;
      }
    }
    return failure;
  }

  TApplication& App() { return *state_.app; }

 private:
  HostState state_;
  size_t started_ = 0;
};

// What an error that escapes the main routine leads to: the report, while error reporting is
// active; otherwise a runtime error.
std::optional<RuntimeError> Handle(Platform& os, std::exception_ptr escaped) {
  if (!State.ErrorReportingActive) return AsRuntimeError(escaped);
  try {
    std::rethrow_exception(escaped);
  } catch (Exception* raw) {
    const OwnedError error(raw);
    ShowErrorReport(os, *error);
    State.ExitStatus = 1;
    return std::nullopt;
  } catch (...) {
    return AsRuntimeError(std::current_exception());
  }
}

void ShowAndSet(Platform& os, const RuntimeError& runtimeError) {
  State.ExitStatus = runtimeError.number;
  ShowRuntimeError(os, runtimeError.number, runtimeError.address);
}

}  // namespace

std::int32_t RunLauncher(Platform& os) {
  Host host(os);
  // A failed start-up has already run the shutdown steps of what it started.
  std::optional<RuntimeError> pending = host.StartUp();
  if (!pending) {
    try {
      State.MainRoutineRunning = true;
      InstallRedistIfMissing(os, host.App());
      State.MainRoutineRunning = false;
    } catch (...) {
      State.MainRoutineRunning = false;
      pending = Handle(os, std::current_exception());
    }
  }

  if (pending) ShowAndSet(os, *pending);
  // Deliberate: the program-wide path is emptied after any box and before the shutdown steps (a
  // test pins this).
  State.UninstallKeyPath.clear();
  if (const auto failure = host.ShutDown()) ShowAndSet(os, *failure);
  return State.ExitStatus;
}

bool InMainRoutine() {
  return State.MainRoutineRunning;
}

}  // namespace launcher
