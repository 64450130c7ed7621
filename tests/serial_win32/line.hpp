#pragma once
// Polling helpers for bytes that arrive through Wine a little later.
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "platform/serial_library.hpp"

namespace quorvel::test {

// Calls `f` until it returns true or 10 s have passed; true when it did.
inline bool eventually(const std::function<bool()>& f) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < end) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Reads through Func062/Func041 until `count` bytes came or 10 s passed.
inline std::string drain(SerialLibrary& serial, std::int32_t port, std::size_t count) {
  std::string got;
  eventually([&] {
    if (resultCode(serial.Func062(port)) != 0)
      for (std::int32_t b; (b = serial.Func041(port)) >= 0;) got += static_cast<char>(b);
    return got.size() >= count;
  });
  return got;
}

}  // namespace quorvel::test
