#include "launcher/text_format.h"

#include <vector>

namespace launcher {

namespace {

// Appends to a fixed buffer, dropping what does not fit.
class Output {
 public:
  Output(char* buffer, size_t capacity) : buffer_(buffer), limit_(capacity ? capacity - 1 : 0) {}
  void Put(char c) {
    if (length_ < limit_) buffer_[length_++] = c;
  }
  void Put(std::string_view text) {
    for (char c : text) Put(c);
  }
  void PutHex(std::uint32_t value, int minimumDigits) {
    char digits[8];
    int count = 0;
    do {
      digits[count++] = "0123456789ABCDEF"[value & 0xF];
      value >>= 4;
    } while (value != 0);
    for (int i = count; i < minimumDigits; ++i) Put('0');
    while (count > 0) Put(digits[--count]);
  }
  size_t Finish() {
    buffer_[length_] = '\0';
    return length_;
  }

 private:
  char* buffer_;
  size_t limit_;
  size_t length_ = 0;
};

}  // namespace

size_t FormatTo(char* buffer, size_t capacity, std::string_view pattern,
                std::span<const FormatArg> args) {
  if (capacity == 0) return 0;
  Output out(buffer, capacity);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 == pattern.size()) {
      out.Put(c);
      continue;
    }
    const char kind = pattern[++i];
    if (kind == '%') {
      out.Put('%');
      continue;
    }
    // Deliberate: a placeholder of another kind, or one without a value left, is copied as it
    // stands (a test pins this).
    if ((kind != 's' && kind != 'p' && kind != 'x') || next == args.end()) {
      out.Put('%');
      out.Put(kind);
      continue;
    }
    const FormatArg& arg = *next++;
    if (kind == 's') {
      if (const auto* text = std::get_if<std::string_view>(&arg)) out.Put(*text);
    } else if (const auto* value = std::get_if<std::uint32_t>(&arg)) {
      out.PutHex(*value, kind == 'p' ? 8 : 1);
    }
  }
  return out.Finish();
}

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args) {
  size_t size = pattern.size() + 1;
  for (const FormatArg& arg : args)
    size +=
        std::holds_alternative<std::string_view>(arg) ? std::get<std::string_view>(arg).size() : 8;
  std::vector<char> buffer(size);
  const size_t length = FormatTo(buffer.data(), buffer.size(), pattern, args);
  return std::string(buffer.data(), length);
}

}  // namespace launcher
