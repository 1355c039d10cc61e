#include "launcher/resource_text.h"

#include <algorithm>
#include <vector>

namespace launcher {

std::string ResourceText(platform::Platform& os, unsigned id, int capacity) {
  std::vector<char> buffer(static_cast<size_t>(capacity) + 1, '\0');
  const int length = os.LoadStringA(os.GetModuleHandleA(nullptr), id, buffer.data(), capacity);
  if (length <= 0) return {};
  return std::string(buffer.data(), static_cast<size_t>(std::min(length, capacity - 1)));
}

void OutputDebugLine(platform::Platform& os, unsigned id, std::string_view value) {
  const std::string line = ResourceText(os, id) + std::string(value);
  os.OutputDebugStringA(line.c_str());
}

}  // namespace launcher
