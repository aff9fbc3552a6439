// TPackedTexts: many short texts kept end to end in one block. Tens of
// thousands of link texts cost one growing allocation here instead of one
// each, and take no more room than their characters and an end offset.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TPackedTexts {
public:
  // Throws std::bad_alloc; the texts already held are kept as they were.
  void Add(std::string_view text) {
    ends_.push_back(chars_.size() + text.size());
    try {
      chars_.append(text);
    } catch (...) {
      ends_.pop_back();  // no half-added text
      throw;
    }
  }

  size_t Count() const { return ends_.size(); }
  bool Empty() const { return ends_.empty(); }

  // Valid until the next Add or Clear.
  std::string_view operator[](size_t index) const {
    const size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(chars_).substr(begin, ends_[index] - begin);
  }

  void Clear() {
    chars_.clear();
    ends_.clear();
  }

private:
  std::string chars_;
  std::vector<size_t> ends_;  // where each text ends in chars_
};
