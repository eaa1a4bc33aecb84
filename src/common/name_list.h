#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace quillfen {

// Names kept end to end in one block, each ended by a NUL (which no file name holds), read in
// their order: a source of a million files costs its names' text and one byte each, where a
// vector of strings costs 32 bytes and more each, in a million allocations for longer names.
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
    Iterator(const std::string* text, std::size_t at) : text_(text), at_(at) {}
    std::string_view operator*() const {
      const std::string_view rest = std::string_view(*text_).substr(at_);
      return rest.substr(0, rest.find('\0'));
    }
    Iterator& operator++() {
      at_ = text_->find('\0', at_) + 1;
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    const std::string* text_ = nullptr;
    std::size_t at_ = 0;
  };

  void push_back(std::string_view name) {
    text_.append(name);
    text_.push_back('\0');
    ++size_;
  }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  Iterator begin() const { return {&text_, 0}; }
  Iterator end() const { return {&text_, text_.size()}; }
  // Keeps the names for which `keep` says true, in their order.
  template <typename Keep>
  void keepOnly(Keep keep) {
    std::size_t written = 0;
    std::size_t kept = 0;
    for (std::size_t at = 0; at < text_.size();) {
      const std::size_t end = text_.find('\0', at);
      const std::size_t length = end - at;
      if (keep(std::string_view(text_).substr(at, length))) {
        text_.replace(written, length + 1, text_, at, length + 1);
        written += length + 1;
        ++kept;
      }
      at = end + 1;
    }
    text_.resize(written);
    size_ = kept;
  }
  std::vector<std::string> strings() const { return {begin(), end()}; }

 private:
  std::string text_;
  std::size_t size_ = 0;
};

}  // namespace quillfen
