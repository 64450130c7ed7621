// Draining a burst from a pseudo-terminal: through the serial layer's byte
// calls with the capture's line assembly, against plain reads of the same bytes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/serial_port.hpp"

namespace {

using quorvel::resultCode;
using quorvel::SerialSystem;
using quorvel::TermiosSerial;

constexpr std::size_t kBurst = 256 * 1024;

std::string burst() {
  std::string b;
  while (b.size() + 7 <= kBurst) b += "012.50\r";
  return b;
}

class Pty {
 public:
  Pty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    path_ = ::ptsname(master_);
  }
  ~Pty() { ::close(master_); }
  const std::string& path() const { return path_; }
  void write(std::string_view bytes) const {
    while (!bytes.empty()) {
      const ssize_t n = ::write(master_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }

 private:
  int master_ = -1;
  std::string path_;
};

// What the capture step does with each byte: printable bytes build the line, a
// carriage return commits a line that holds something.
struct Lines {
  std::string current, last;
  std::size_t committed = 0;
  void take(int b) {
    if (b == '\r') {
      if (current.find_first_not_of(' ') != std::string::npos) {
        last = current;
        current.clear();
        ++committed;
      }
    } else if (b >= 32 && b <= 126 && current.size() < 254) {
      current += static_cast<char>(b);
    }
  }
};

void BM_SerialLayerWithLines(benchmark::State& state) {
  const Pty pty;
  TermiosSerial serial([&](int) { return pty.path(); });
  if (serial.Func012(0, 0) != 0 || serial.Func001(0, 115200, 0, 8, 1) != 0) {
    state.SkipWithError("cannot claim the pseudo-terminal");
    return;
  }
  const std::string bytes = burst();
  for (auto _ : state) {
    std::thread writer([&] { pty.write(bytes); });
    std::size_t got = 0;
    Lines lines;
    while (got < bytes.size()) {
      if (resultCode(serial.Func062(0)) == 0) continue;
      for (std::int32_t b; (b = serial.Func041(0)) >= 0; ++got) lines.take(b);
    }
    writer.join();
    benchmark::DoNotOptimize(lines.committed);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_SerialLayerWithLines)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainRead(benchmark::State& state) {
  const Pty pty;
  const int fd = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  const std::string bytes = burst();
  char buffer[4096];
  for (auto _ : state) {
    std::thread writer([&] { pty.write(bytes); });
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) got += static_cast<std::size_t>(n);
    }
    writer.join();
    benchmark::DoNotOptimize(buffer);
  }
  ::close(fd);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// The layer's own cost per byte, without the kernel: reads are served from
// memory, 4 KiB at a time.
class MemorySystem : public SerialSystem {
 public:
  int open(const char*, int) override { return 1000; }
  int close(int) override { return 0; }
  int flock(int, int) override { return 0; }
  int ioctl(int, unsigned long, void*) override { return 0; }
  ssize_t read(int, void* buffer, std::size_t size) override {
    if (left == 0) {
      errno = EAGAIN;
      return -1;
    }
    const std::size_t n = std::min({size, left, source.size()});
    std::memcpy(buffer, source.data(), n);
    left -= n;
    return static_cast<ssize_t>(n);
  }
  std::string source = burst().substr(0, 4096);
  std::size_t left = 0;
};

void BM_SerialLayerBufferOnly(benchmark::State& state) {
  MemorySystem sys;
  TermiosSerial serial([](int) { return std::string("memory"); }, sys);
  serial.Func012(0, 0);
  for (auto _ : state) {
    sys.left = kBurst;
    Lines lines;
    while (resultCode(serial.Func062(0)) != 0)
      for (std::int32_t b; (b = serial.Func041(0)) >= 0;) lines.take(b);
    benchmark::DoNotOptimize(lines.committed);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kBurst));
}
BENCHMARK(BM_SerialLayerBufferOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
