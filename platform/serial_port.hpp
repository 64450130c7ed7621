#pragma once
// The serial library on POSIX termios.
//
// COMn (port index n - 1) is the device named by the key "COMn" of the section
// "Portas" of quorvel.ini when that value is not empty, else /dev/ttyS(n-1); the
// name is looked up when the port is claimed.
//
// Func012 claims: opens the device non-blocking and exclusively (flock and
//   TIOCEXCL). 0, else the errno of the failed step: ENOENT for a missing
//   device, EBUSY when this or another process holds the port, ENOTTY for a
//   file that is no terminal, EINVAL for a negative port.
// Func001 sets up the line in raw mode: speed in bits per second (a non-standard
//   speed is set as such), parity 0 none / 1 odd / 2 even, data bits 5 to 8,
//   stop bits 1 or 2. 0, EBADF for a port not claimed, EINVAL for a value out of
//   range or settings the device refuses, else the errno of the failed call. A
//   pseudo-terminal has no framing: its 8-bit read-back is accepted. While the
//   device is gone the settings are kept for its return, and the result is 0.
// Func084 releases a claimed port; a port not claimed is left alone. Always 0;
//   the window handle is recorded at the claim but not checked.
// Func062 tops the layer's buffer up from the device (reading until the device
//   has nothing more or the buffer is full) and counts the bytes in it: at
//   most 65535, so its low 16 bits are 0 only when none wait (also for a port
//   not claimed). Func041 takes the next byte (0 to 255) from the buffer, which
//   one read refills when empty, else -1. Neither blocks.
//
// A device that vanishes while claimed (read error EIO, ENXIO or ENODEV, or a
// hang-up) reads as nothing waiting once the bytes taken before it vanished are
// read; Func062 then tries to open the same path again at most every 250 ms
// and, once it succeeds, restores the line settings, so reading resumes without
// an error ever reaching the caller.
// Not thread-safe: all calls come from one thread.
#include <sys/types.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/serial_library.hpp"

struct termios;

namespace quorvel {

// The system calls the layer makes; tests replace single calls to inject
// failures (EINTR, EIO). Each returns as its POSIX namesake, errno included.
class SerialSystem {
 public:
  virtual ~SerialSystem() = default;
  virtual int open(const char* path, int flags);
  virtual int close(int fd);
  virtual ssize_t read(int fd, void* buffer, std::size_t size);
  virtual int flock(int fd, int operation);
  virtual int ioctl(int fd, unsigned long request, void* argument);
  virtual int tcgetattr(int fd, termios* settings);
  virtual int tcsetattr(int fd, const termios* settings);  // TCSANOW
  virtual std::chrono::steady_clock::time_point now();

  static SerialSystem& real();
};

struct LineSettings {
  std::int32_t speed = 0;
  std::int32_t parity = 0;
  std::int32_t dataBits = 8;
  std::int32_t stopBits = 1;
};

class TermiosSerial final : public SerialLibrary {
 public:
  using DeviceMap = std::function<std::string(int port)>;

  // Devices from the section "Portas" of quorvel.ini.
  TermiosSerial();
  // The value of "COMn" in the section "Portas" of quorvel.ini for port n - 1;
  // empty when there is none.
  static std::string configuredDevice(int port);
  // Devices from `devices`; an empty name falls back to /dev/ttyS(port).
  explicit TermiosSerial(DeviceMap devices, SerialSystem& system = SerialSystem::real());
  ~TermiosSerial() override;
  TermiosSerial(const TermiosSerial&) = delete;
  TermiosSerial& operator=(const TermiosSerial&) = delete;

  std::int32_t Func012(std::int32_t port, std::int32_t window) override;
  std::int32_t Func001(std::int32_t port, std::int32_t speed, std::int32_t parity,
                       std::int32_t dataBits, std::int32_t stopBits) override;
  std::int32_t Func084(std::int32_t port, std::int32_t window) override;
  std::int32_t Func062(std::int32_t port) override;
  std::int32_t Func041(std::int32_t port) override;

  static constexpr std::size_t kBufferSize = 65535;
  static constexpr std::chrono::milliseconds kReopenInterval{250};

 private:
  struct Port {
    std::string path;
    int fd = -1;  // -1 while the device is gone
    std::int32_t window = 0;
    std::optional<LineSettings> settings;
    std::array<unsigned char, kBufferSize> buffer{};
    std::size_t head = 0;
    std::size_t tail = 0;
    std::chrono::steady_clock::time_point nextReopen{};
  };

  Port* claimed(std::int32_t port);
  int openExclusive(const std::string& path, int& fd);
  int apply(int fd, const LineSettings& settings);
  void reopen(Port& p);
  bool fill(Port& p);
  void lose(Port& p);
  void closeDevice(int fd);

  DeviceMap devices_;
  SerialSystem& sys_;
  std::map<std::int32_t, std::unique_ptr<Port>> ports_;
};

}  // namespace quorvel
