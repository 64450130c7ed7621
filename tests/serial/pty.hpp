#pragma once
// Test fixtures for the serial layer: a real pseudo-terminal pair, a system-call
// seam that records what the layer does and can fail single calls, and a
// polling helper for data that the kernel delivers a little later.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.hpp"

namespace quorvel::test {

class Pty {
 public:
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;
  const std::string& path() const { return path_; }
  int master() const { return master_; }
  // Writes everything to the master side, blocking while the line is full.
  void write(std::string_view bytes);
  // Hangs up the terminal side.
  void close();

 private:
  int master_ = -1;
  std::string path_;
};

class RecordingSystem : public SerialSystem {
 public:
  std::vector<std::string> opened;  // paths, in order
  std::vector<int> closed;          // descriptors, in order
  int lastFd = -1;                  // of the last successful open
  int opens = 0;                    // successful ones
  std::deque<int> readErrors;       // errno for the next reads; 0 lets one through
  std::deque<int> openErrors;
  std::chrono::steady_clock::duration advanced{};  // added to the real clock
  int reads = 0;
  std::size_t readSlice = 0;  // when set, the most that one read hands over

  int open(const char* path, int flags) override;
  int close(int fd) override;
  ssize_t read(int fd, void* buffer, std::size_t size) override;
  std::chrono::steady_clock::time_point now() override;
};

// Calls `f` until it returns true or 10 s have passed; true when it did.
bool eventually(const std::function<bool()>& f);

// Reads from the port through Func062/Func041 until `count` bytes came or 10 s
// passed.
std::string drain(SerialLibrary& serial, std::int32_t port, std::size_t count);

// The line speed and control flags as the kernel holds them for `fd`.
struct KernelLine {
  unsigned speed;
  unsigned cflag;
};
KernelLine kernelLine(int fd);

}  // namespace quorvel::test
