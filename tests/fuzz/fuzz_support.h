// Helpers of the fuzz targets: reading a structured case from the fuzzer's bytes and failing
// loudly enough for the fuzzer to keep the input. What they share with the unit tests is in
// tests/support/test_support.h.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/support/test_support.h"

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace launcher::fuzz {

// Takes values from the front of the input; an exhausted input gives zeros and empty texts.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return size_ > 0 ? (--size_, *data_++) : 0; }
  std::uint32_t U32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
    return value;
  }
  // A text of at most max bytes, its length taken from the next two bytes.
  std::string Text(size_t max) {
    const size_t high = Byte();
    const size_t wanted = (high << 8 | Byte()) % (max + 1);
    const size_t length = std::min(wanted, size_);
    std::string text(reinterpret_cast<const char*>(data_), length);
    data_ += length;
    size_ -= length;
    return text;
  }
  std::string Rest() {
    std::string text(reinterpret_cast<const char*>(data_), size_);
    data_ += size_;
    size_ = 0;
    return text;
  }
  std::bitset<256> ByteSet() {
    std::bitset<256> set;
    for (unsigned i = 0; i < 256; i += 8) {
      const std::uint8_t bits = Byte();
      for (unsigned j = 0; j < 8; ++j)
        if (bits >> j & 1) set.set(i + j);
    }
    return set;
  }

 private:
  const std::uint8_t* data_;
  size_t size_;
};

// The last delimiter of text that is not the second byte of a double-byte character, found by
// reading the text forwards character by character: a lead byte takes the next byte with it.
// A character whose second byte is a delimiter is passed over whole.
inline size_t ModelLastDelimiter(std::string_view text, const std::bitset<256>& leadBytes,
                                 std::string_view delimiters) {
  auto isDelimiter = [&](char c) {
    return c != '\0' && delimiters.find(c) != std::string_view::npos;
  };
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < text.size();) {
    const bool pair = leadBytes.test(static_cast<unsigned char>(text[i])) && i + 1 < text.size();
    if (pair) {
      if (!isDelimiter(text[i + 1]) && isDelimiter(text[i])) found = i;
      i += 2;
    } else {
      if (isDelimiter(text[i])) found = i;
      i += 1;
    }
  }
  return found;
}

}  // namespace launcher::fuzz
