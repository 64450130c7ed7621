#pragma once
// The serial library: the five calls through which the system reaches a scale.
// Every argument is a 32-bit integer; callers look only at the low 16 bits of a
// result, read as a signed number. Ports are zero-based indexes (0 is COM1).
#include <cstdint>

namespace quorvel {

class SerialLibrary {
 public:
  virtual ~SerialLibrary() = default;

  // SETPORT: claims the port for the window. 0, else an error code.
  virtual std::int32_t Func012(std::int32_t port, std::int32_t window) = 0;
  // INITPORT: line speed in bits per second, parity (0 none, 1 odd, 2 even),
  // data bits, stop bits. 0, else an error code.
  virtual std::int32_t Func001(std::int32_t port, std::int32_t speed, std::int32_t parity,
                               std::int32_t dataBits, std::int32_t stopBits) = 0;
  // Releases the port claimed for the window.
  virtual std::int32_t Func084(std::int32_t port, std::int32_t window) = 0;
  // How many bytes wait; its low 16 bits are 0 only when none do. Never blocks.
  virtual std::int32_t Func062(std::int32_t port) = 0;
  // The next byte (0 to 255), or a negative number when none waits. Never blocks.
  virtual std::int32_t Func041(std::int32_t port) = 0;
};

// The part of a result that callers look at: its low 16 bits as a signed number.
constexpr std::int16_t resultCode(std::int32_t result) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(result & 0xFFFF));
}

}  // namespace quorvel
