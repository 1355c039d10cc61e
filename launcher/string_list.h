// An ordered list of 8-bit texts: additions go to the end, nothing is sorted, duplicates stay.
#pragma once

#include <string>
#include <vector>

namespace launcher {

class TStringList {
 public:
  void Add(std::string text) { items_.push_back(std::move(text)); }
  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const { return items_.at(static_cast<size_t>(index)); }

 private:
  std::vector<std::string> items_;
};

}  // namespace launcher
