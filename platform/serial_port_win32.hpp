#pragma once
// The serial library on the Win32 communications API.
//
// COMn (port index n - 1) is the device \\.\COMn.
//
// Func012 claims: opens the device for this process alone. 0, else the
//   GetLastError value of the failed step: ERROR_FILE_NOT_FOUND for a port the
//   machine does not have, ERROR_ACCESS_DENIED when this or another program
//   holds it, ERROR_INVALID_PARAMETER for a negative port.
// Func001 sets up the line: speed in bits per second, parity 0 none / 1 odd /
//   2 even, data bits 5 to 8, stop bits 1 or 2; binary, no flow control, DTR
//   and RTS raised. 0, ERROR_INVALID_HANDLE for a port not claimed,
//   ERROR_INVALID_PARAMETER for a value out of range, else the GetLastError of
//   the failed call (the driver refusing the settings). A device that accepts
//   the settings and reports back others (a pseudo-terminal keeps 8 bits) is
//   taken as set up. A line that refuses them with ERROR_INVALID_PARAMETER while
//   it holds all but their framing (under Wine, a pseudo-terminal that was set
//   up before) is set up again through the other stop bits; a refusal of that
//   too is returned. While the device is gone the settings are kept for its
//   return, and the result is 0.
// Func084 releases a claimed port; a port not claimed is left alone. Always 0;
//   the window handle is recorded at the claim but not checked.
// Func062 counts the bytes waiting, in the layer's buffer and in the driver's
//   queue (ClearCommError); when the driver holds any, it first tops the buffer
//   up (reading until the device has nothing more or the buffer is full). At
//   most 65535, so its low 16 bits are 0 only when none wait (also for a port
//   not claimed). Func041 takes the next byte (0 to 255) from the buffer, which
//   one ReadFile refills when empty, else -1. Neither blocks.
//
// A device that vanishes while claimed (a USB adapter pulled out: ClearCommError
// or ReadFile fails) reads as nothing waiting; Func062 then opens the same name
// again at most every 250 ms and, once it succeeds, restores the line settings,
// so reading resumes without an error ever reaching the caller.
// Not thread-safe: all calls come from one thread.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/serial_library.hpp"

namespace quorvel {

// The system calls the layer makes; tests replace single calls to inject
// failures. Each returns as its Win32 namesake, the last-error value included.
class Win32SerialSystem {
 public:
  virtual ~Win32SerialSystem() = default;
  virtual HANDLE open(const std::wstring& name);  // CreateFileW, exclusive
  virtual BOOL close(HANDLE handle);
  virtual BOOL read(HANDLE handle, void* buffer, DWORD size, DWORD* got);
  virtual BOOL clearError(HANDLE handle, DWORD* errors, COMSTAT* status);  // ClearCommError
  virtual BOOL getState(HANDLE handle, DCB* dcb);
  virtual BOOL setState(HANDLE handle, DCB* dcb);
  virtual BOOL setTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
  virtual std::chrono::steady_clock::time_point now();

  static Win32SerialSystem& real();
};

class Win32Serial final : public SerialLibrary {
 public:
  explicit Win32Serial(Win32SerialSystem& system = Win32SerialSystem::real());
  ~Win32Serial() override;
  Win32Serial(const Win32Serial&) = delete;
  Win32Serial& operator=(const Win32Serial&) = delete;

  // \\.\COMn for port index n - 1.
  static std::wstring deviceName(std::int32_t port);

  std::int32_t Func012(std::int32_t port, std::int32_t window) override;
  std::int32_t Func001(std::int32_t port, std::int32_t speed, std::int32_t parity,
                       std::int32_t dataBits, std::int32_t stopBits) override;
  std::int32_t Func084(std::int32_t port, std::int32_t window) override;
  std::int32_t Func062(std::int32_t port) override;
  std::int32_t Func041(std::int32_t port) override;

  static constexpr std::size_t kBufferSize = 65535;
  static constexpr std::chrono::milliseconds kReopenInterval{250};

 private:
  struct Settings {
    std::int32_t speed, parity, dataBits, stopBits;
  };
  struct Port {
    std::wstring name;
    HANDLE handle = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE while the device is gone
    HANDLE claim = nullptr;                // the named mutex that marks the port as taken
    std::int32_t window = 0;
    std::optional<Settings> settings;
    std::array<unsigned char, kBufferSize> buffer{};
    std::size_t head = 0;
    std::size_t tail = 0;
    std::chrono::steady_clock::time_point nextReopen{};
  };

  Port* claimed(std::int32_t port);
  DWORD openDevice(const std::wstring& name, HANDLE& handle);
  DWORD apply(HANDLE handle, const Settings& settings);
  void reopen(Port& p);
  std::size_t fill(Port& p);
  void lose(Port& p);
  void release(Port& p);

  Win32SerialSystem& sys_;
  std::map<std::int32_t, std::unique_ptr<Port>> ports_;
};

}  // namespace quorvel
