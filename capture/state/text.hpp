#pragma once
// Bounded single-byte texts, as the capture state record keeps them.
//
// A Text of capacity N holds at most N - 1 bytes (the last place of the record's
// fields is the terminating zero). Storing a longer text keeps its first N - 1
// bytes; a NUL byte ends the text, as it would in the record. Bytes are
// Windows-1252 and are never transcoded here.
#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

class Text {
 public:
  explicit Text(std::size_t capacity);

  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  std::size_t capacity() const { return capacity_; }
  std::size_t maxLength() const { return capacity_ - 1; }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  bool full() const { return bytes_.size() == maxLength(); }
  std::string_view view() const { return bytes_; }

  // Keeps the first maxLength() bytes of `s`, up to its first NUL.
  void assign(std::string_view s);
  Text& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  // Appends one byte; returns false (and keeps the text) when it is full.
  bool append(char c);
  void clear() { bytes_.clear(); }

  friend bool operator==(const Text& a, std::string_view b) { return a.view() == b; }

 private:
  std::string bytes_;
  std::size_t capacity_;
};

// `s` without its trailing spaces (spaces only).
std::string_view trimTrailingSpaces(std::string_view s);

// Comparison of names such as the scale brand: exact and case-sensitive, with
// trailing spaces not significant.
bool sameName(std::string_view a, std::string_view b);

// True when `s` holds at least one byte other than a space.
bool hasNonSpace(std::string_view s);

}  // namespace quorvel
