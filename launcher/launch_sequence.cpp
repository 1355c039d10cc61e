#include "launcher/launch_sequence.h"

#include <algorithm>

#include "launcher/elevated_run.h"
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

void RunLauncher(Platform& os) {
  ReadPlatformId(os);
  FillLeadByteSet(os);
  {
    TApplication app(os);
    InstallRedistIfMissing(os, app);
    UninstallKeyPath.clear();
  }
  os.ExitProcess(static_cast<UINT>(ExitStatus));
}

}  // namespace launcher
