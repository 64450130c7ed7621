// An event as a window test takes it from a window runtime: its code and its
// control, comparable and printable in failure messages.
#pragma once

#include <ostream>

namespace quorvel {

struct Event {
  int code;
  int control;
  friend bool operator==(const Event&, const Event&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const Event& e) {
  return os << "{" << e.code << ", " << e.control << "}";
}

// An event code that no window posts, to mark the end of a drain.
constexpr int kSentinel = 9999;

}  // namespace quorvel
