#include "launcher/launch_sequence.h"

#include <algorithm>
#include <exception>
#include <new>
#include <optional>

#include "launcher/elevated_run.h"
#include "launcher/error_report.h"
#include "launcher/errors.h"
#include "launcher/lead_bytes.h"
#include "launcher/presence_check.h"
#include "launcher/resource_ids.h"
#include "launcher/resource_text.h"

namespace launcher {

using namespace platform;
using namespace win;

std::int32_t ExitStatus = 0;

std::string GetExecutablePath(Platform& os) {
  char path[kExecutablePathBufferSize] = {};
  const DWORD length = os.GetModuleFileNameA(nullptr, path, kExecutablePathBufferSize);
  // A path cut to the buffer may end in the NUL that Windows put there; the folder scan passes
  // over it.
  return std::string(path, std::min(length, kExecutablePathBufferSize));
}

std::string ExtractFolderPart(std::string_view path) {
  const size_t delimiter = LastDelimiter(path, "\\:");
  if (delimiter == std::string_view::npos) return {};
  return std::string(path.substr(0, delimiter + 1));
}

void InstallRedistIfMissing(Platform& os, TApplication& app) {
  std::int32_t code = 0;
  if (!IsRedistInstalled(os)) {
    const std::string folder = ExtractFolderPart(GetExecutablePath(os));
    const std::string file = "\"" + folder + std::string(kInstallerFileName) + "\"";
    code = RunAsAdminAndWait(os, app, nullptr, file, std::string(kInstallerParameters));
  }
  if (code != 0) {
    const std::string line = ResourceText(os, IDS_INSTALL_ERROR_PREFIX) + std::to_string(code);
    os.OutputDebugStringA(line.c_str());
  }
}

namespace {

// The host's start-up steps in their order; shutdown stops the started ones in reverse.
class Host {
 public:
  explicit Host(Platform& os) : os_(os) {}
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // A step that fails is stopped with every step started before it, then its error goes on.
  void StartUp() {
    for (; started_ < kSteps;) {
      ++started_;
      try {
        Start(started_ - 1);
      } catch (...) {
        ShutDown();
        throw;
      }
    }
  }

  // An error in one step lets the remaining steps run, then goes on.
  void ShutDown() {
    std::exception_ptr failure;
    for (; started_ > 0; --started_) {
      try {
        Stop(started_ - 1);
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    if (failure) std::rethrow_exception(failure);
  }

  TApplication& App() { return *app_; }

 private:
  static constexpr int kSteps = 3;

  void Start(int step) {
    switch (step) {
      case 0:
        StartErrorReporting(os_);
        break;
      case 1:
        ReadPlatformId(os_);
        FillLeadByteSet(os_);
        break;
      case 2:
        app_ = std::make_unique<TApplication>(os_);
        break;
    }
  }

  void Stop(int step) {
    switch (step) {
      case 0:
        StopErrorReporting();
        break;
      case 2:
        if (app_) app_->Destroy();
        app_.reset();
        break;
    }
  }

  Platform& os_;
  int started_ = 0;
  std::unique_ptr<TApplication> app_;
};

struct RuntimeError {
  int number;
  std::uintptr_t address;
};

// What an escaped error leads to: the report, while error reporting is active; otherwise a
// runtime error with its number.
std::optional<RuntimeError> Handle(Platform& os, std::exception_ptr escaped) {
  try {
    std::rethrow_exception(escaped);
  } catch (Exception* raw) {
    const OwnedError error(raw);
    if (!ErrorReportingActive)
      return RuntimeError{error->RuntimeErrorNumber(), error->RaiseAddress()};
    ShowErrorReport(os, *error);
    ExitStatus = 1;
    return std::nullopt;
  } catch (const std::bad_alloc&) {
    return RuntimeError{203, 0};
  } catch (...) {
    return RuntimeError{217, 0};
  }
}

void ShowAndSet(Platform& os, const RuntimeError& runtimeError) {
  ExitStatus = runtimeError.number;
  ShowRuntimeError(os, runtimeError.number, runtimeError.address);
}

}  // namespace

std::int32_t RunLauncher(Platform& os) {
  Host host(os);
  std::optional<RuntimeError> pending;
  try {
    host.StartUp();
    InstallRedistIfMissing(os, host.App());
  } catch (...) {
    pending = Handle(os, std::current_exception());
  }

  if (pending) ShowAndSet(os, *pending);
  UninstallKeyPath.clear();
  try {
    host.ShutDown();
  } catch (...) {
    if (const auto runtimeError = Handle(os, std::current_exception()))
      ShowAndSet(os, *runtimeError);
  }
  return ExitStatus;
}

}  // namespace launcher
