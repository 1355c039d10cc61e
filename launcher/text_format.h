// Filling the placeholders of the program's text templates: %s a text, %p a 32-bit value as
// eight uppercase hexadecimal digits, %x the same without leading zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace launcher {

using FormatArg = std::variant<std::string_view, std::uint32_t>;

// Writes the filled template into buffer, stopping at capacity - 1 bytes, and terminates it.
// Returns the length written. Allocates nothing.
size_t FormatTo(char* buffer, size_t capacity, std::string_view pattern,
                std::span<const FormatArg> args);
inline size_t FormatTo(char* buffer, size_t capacity, std::string_view pattern,
                       std::initializer_list<FormatArg> args) {
  return FormatTo(buffer, capacity, pattern, std::span<const FormatArg>(args.begin(), args.size()));
}

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args);

}  // namespace launcher
