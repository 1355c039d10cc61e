// FormatErrorReport with any class name, message and raise address, the address inside or
// outside a module: the text never passes its buffer, is always terminated, and is the filled
// template cut to the buffer.
#include <memory>

#include "fuzz_support.h"
#include "launcher/error_report.h"
#include "tests/fake/fake_platform.h"

namespace {

class NamedError : public launcher::Exception {
 public:
  NamedError(std::string className, std::string message)
      : Exception(std::move(message)), className_(std::move(className)) {}
  const char* ClassName() const override { return className_.c_str(); }

 private:
  std::string className_;
};

// The file name that GetModuleFileNameA gives into 261 bytes, after its last backslash.
std::string ModuleName(const std::string& path, const std::bitset<256>& leadBytes) {
  std::string shown = path.substr(0, 260);
  shown.resize(std::min(shown.size(), shown.find('\0')));
  const size_t last = launcher::fuzz::ModelLastDelimiter(shown, leadBytes, "\\");
  return last == std::string::npos ? shown : shown.substr(last + 1);
}

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  using namespace launcher;
  using platform::fake::FakePlatform;
  fuzz::FuzzInput input(data, size);
  ResetProgramState();

  FakePlatform os;
  const std::uint8_t flags = input.Byte();
  if (flags & 1) State.LeadByteSet = input.ByteSet();
  os.cutPathWithoutNul = flags & 2;
  // One region, committed or not, whose module is the program, another module or none.
  const std::uintptr_t base = input.U32() & ~std::uint32_t{0xFFFF};
  const std::uintptr_t end = base + (std::uintptr_t{input.Byte()} + 1) * 0x1000;
  const bool committed = flags & 4;
  os.regions.push_back({base, end, base, committed});
  const bool otherModule = (flags & 8) && base != 0 && base != 0x400000;
  const std::string modulePath = input.Text(400);
  if (otherModule) os.modulePaths[base] = modulePath;
  os.executablePath = input.Text(400);
  const std::uint32_t address = input.U32() % 2 ? input.U32() : base + input.Byte() * 0x100;
  const size_t capacity = flags & 16 ? 1024 : 1 + input.U32() % 2048;
  const std::string className = input.Text(400);
  const std::string message = input.Rest();

  const NamedError error(className, message);
  const auto buffer = std::make_unique<char[]>(capacity);  // exactly the capacity: ASan guards it
  const size_t length = FormatErrorReport(os, error, address, buffer.get(), capacity);
  FUZZ_CHECK(length < capacity);
  FUZZ_CHECK(buffer[length] == '\0');

  // A module whose file name is empty counts as none: GetModuleFileNameA then returns 0.
  const std::string* moduleOfBase = otherModule                     ? &modulePath
                                    : base == 0 || base == 0x400000 ? &os.executablePath
                                                                    : nullptr;
  const bool inModule =
      committed && address >= base && address < end && moduleOfBase && !moduleOfBase->empty();
  const std::string& path = inModule ? *moduleOfBase : os.executablePath;
  const std::uint32_t shown = inModule ? address - base : address == 0 ? 0 : address - 0x1000;
  const std::string shownClass = className.substr(0, std::min(className.find('\0'), size_t{255}));
  const std::string period = !message.empty() && message.back() != '.' ? "." : "";
  const std::string full = "Exception " + shownClass + " dans le module " +
                           ModuleName(path, State.LeadByteSet) + " dans " + Hex8(shown) + ".\r\n" +
                           message + period + "\r\n";
  FUZZ_CHECK(std::string(buffer.get(), length) == full.substr(0, capacity - 1));
  return 0;
}
