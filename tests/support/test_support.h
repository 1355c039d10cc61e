// What the unit tests and fuzz targets share: the texts and registry paths they expect, spelled
// out on the tests' side so that a wrong byte in the launcher's own fails them; the registry
// entries they make; and the runtime error's box. The program-wide state's reset is the
// launcher's own ResetProgramState.
#pragma once

#include <string>
#include <string_view>

#include "launcher/launch_sequence.h"
#include "launcher/lead_bytes.h"
#include "launcher/presence_check.h"
#include "launcher/program_state.h"
#include "tests/fake/fake_platform.h"

namespace launcher::test {

inline const std::string kWow =
    "HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline const std::string kNative = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The runtime's display name, 66 bytes.
inline const std::string kRedist =
    "Microsoft Visual C++ 2015-2022 Redistributable (x86) - 14.34.31931";
// The uninstall key as the registry calls receive it: below HKLM, ending in a backslash.
inline const std::string kWowSubKey =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// The launcher's texts, in Windows-1252.
inline const std::string kPrefix = "Erreur lors de l'installation : ";
inline const std::string kStartFailed = "Impossible de lancer l'installation : ";
inline const std::string kWrongType =
    "Type de donn\xE9"
    "es incorrect pour 'DisplayName'";
inline const std::string kReadFailed =
    "Echec \xE0 l'obtention des donn\xE9"
    "es pour 'DisplayName'";
inline const std::string kReportTitle = "Erreur d'application";

// An uninstall entry below root with the given DisplayName.
inline void AddEntry(platform::fake::FakePlatform& os, const std::string& root,
                     const std::string& name, const std::string& displayName,
                     win::DWORD type = win::REG_SZ) {
  os.SetString(root + "\\" + name, "DisplayName", displayName, type);
}

namespace detail {
inline bool IsRuntimeErrorBox(bool ownerless, const std::string& text, const std::string& caption,
                              win::UINT type, int number) {
  const std::string prefix = "Runtime error " + std::to_string(number) + " at ";
  return text.size() == prefix.size() + 8 && text.starts_with(prefix) &&
         text.find_first_not_of("0123456789ABCDEF", prefix.size()) == std::string::npos &&
         caption == "Error" && type == 0 && ownerless;
}
}  // namespace detail

// The runtime error's box: "Runtime error NNN at XXXXXXXX", captioned "Error", no owner, no icon.
inline bool IsRuntimeErrorBox(const platform::fake::FakePlatform::Box& box, int number) {
  return detail::IsRuntimeErrorBox(box.owner == nullptr, box.text, box.caption, box.type, number);
}

// The same, for the box as MessageBoxA was asked for it (owner, text, caption, flags), shown or
// not.
inline bool IsRuntimeErrorBox(const platform::fake::Call& messageBox, int number) {
  const auto& args = messageBox.args;
  return detail::IsRuntimeErrorBox(args.at(0) == "0x0", args.at(1), args.at(2),
                                   static_cast<win::UINT>(std::stoul(args.at(3), nullptr, 16)),
                                   number);
}

}  // namespace launcher::test
