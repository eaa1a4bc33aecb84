#pragma once

#include <cstddef>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// Names kept end to end in one block, each found by where it ends: a source of a million files
// costs its names' text and 8 bytes each, where a vector of strings costs 32 bytes and more
// each, in a million allocations for longer names.
class NameList {
 public:
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    Iterator() = default;
    Iterator(const NameList* list, std::size_t index) : list_(list), index_(index) {}
    std::string_view operator*() const { return (*list_)[index_]; }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++index_;
      return before;
    }
    bool operator==(const Iterator& other) const { return index_ == other.index_; }

   private:
    const NameList* list_ = nullptr;
    std::size_t index_ = 0;
  };

  void push_back(std::string_view name) {
    text_.append(name);
    ends_.push_back(text_.size());
  }
  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::string_view operator[](std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(start, ends_[index] - start);
  }
  Iterator begin() const { return {this, 0}; }
  Iterator end() const { return {this, size()}; }
  // Keeps the names for which `keep` says true, in their order.
  template <typename Keep>
  void keepOnly(Keep keep) {
    std::size_t written = 0;
    std::size_t kept = 0;
    std::size_t start = 0;
    for (std::size_t index = 0; index < ends_.size(); ++index) {
      const std::string_view name = std::string_view(text_).substr(start, ends_[index] - start);
      start = ends_[index];
      if (!keep(name)) continue;
      std::memmove(text_.data() + written, name.data(), name.size());
      written += name.size();
      ends_[kept++] = written;
    }
    text_.resize(written);
    ends_.resize(kept);
  }
  std::vector<std::string> strings() const { return {begin(), end()}; }

 private:
  std::string text_;
  std::vector<std::size_t> ends_;
};

}  // namespace quillfen
