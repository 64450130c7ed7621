#include "platform/serial_port_win32.hpp"

#include <algorithm>

#include "platform/system_serial.hpp"

namespace quorvel {

namespace {

// Never a multiple of 65536, so the low 16 bits stay nonzero while bytes wait.
constexpr std::size_t kMostReported = 0xFFFF;

// Windows serial drivers admit one handle at a time, whatever the share mode
// says; Wine maps a port to a Unix device that admits any number. A named
// mutex per port keeps two programs apart there too.
std::wstring claimName(std::int32_t port) {
  return L"Global\\Quorvel.COM" + std::to_wstring(static_cast<long long>(port) + 1);
}

}  // namespace

HANDLE Win32SerialSystem::open(const std::wstring& name) {
  return ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}
BOOL Win32SerialSystem::close(HANDLE handle) {
  return ::CloseHandle(handle);
}
BOOL Win32SerialSystem::read(HANDLE handle, void* buffer, DWORD size, DWORD* got) {
  return ::ReadFile(handle, buffer, size, got, nullptr);
}
BOOL Win32SerialSystem::clearError(HANDLE handle, DWORD* errors, COMSTAT* status) {
  return ::ClearCommError(handle, errors, status);
}
BOOL Win32SerialSystem::getState(HANDLE handle, DCB* dcb) {
  return ::GetCommState(handle, dcb);
}
BOOL Win32SerialSystem::setState(HANDLE handle, DCB* dcb) {
  return ::SetCommState(handle, dcb);
}
BOOL Win32SerialSystem::setTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
  return ::SetCommTimeouts(handle, timeouts);
}
std::chrono::steady_clock::time_point Win32SerialSystem::now() {
  return std::chrono::steady_clock::now();
}
Win32SerialSystem& Win32SerialSystem::real() {
  static Win32SerialSystem system;
  return system;
}

std::unique_ptr<SerialLibrary> systemSerial() {
  return std::make_unique<Win32Serial>();
}

Win32Serial::Win32Serial(Win32SerialSystem& system) : sys_(system) {}

Win32Serial::~Win32Serial() {
  for (auto& [index, p] : ports_) release(*p);
}

std::wstring Win32Serial::deviceName(std::int32_t port) {
  return L"\\\\.\\COM" + std::to_wstring(static_cast<long long>(port) + 1);
}

Win32Serial::Port* Win32Serial::claimed(std::int32_t port) {
  const auto it = ports_.find(port);
  return it == ports_.end() ? nullptr : it->second.get();
}

DWORD Win32Serial::openDevice(const std::wstring& name, HANDLE& handle) {
  const HANDLE h = sys_.open(name);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
  // Reads return at once with what has arrived, also before the line is set up.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  if (!sys_.setTimeouts(h, &timeouts)) {
    const DWORD e = ::GetLastError();
    sys_.close(h);
    return e;
  }
  handle = h;
  return 0;
}

DWORD Win32Serial::apply(HANDLE handle, const Settings& s) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!sys_.getState(handle, &dcb)) return ::GetLastError();
  dcb.BaudRate = static_cast<DWORD>(s.speed);
  dcb.ByteSize = static_cast<BYTE>(s.dataBits);
  static constexpr BYTE kParities[] = {NOPARITY, ODDPARITY, EVENPARITY};
  dcb.Parity = kParities[s.parity];
  dcb.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = s.parity != 0;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;  // a NUL byte is data like any other
  // Otherwise a framing or overrun error would stop every read until cleared.
  dcb.fAbortOnError = FALSE;
  // The driver's answer decides; what it reports back afterwards does not, since
  // a line without framing (a pseudo-terminal under Wine) keeps 8 bits.
  if (sys_.setState(handle, &dcb)) return 0;
  const DWORD refused = ::GetLastError();
  if (refused != ERROR_INVALID_PARAMETER) return refused;
  // Wine sets the line control with tcsetattr, which glibc fails when no part of
  // the change took. A pseudo-terminal keeps 8 bits without parity, so once a
  // process has set it up, the same 7-bit settings change nothing and are
  // refused. That line already holds the speed and stop bits asked: passing
  // through the other stop bits gives each set-up a change that takes, as the
  // first one had. A driver that cannot frame the line refuses that pass too.
  DCB back{};
  back.DCBlength = sizeof back;
  if (!sys_.getState(handle, &back) || back.BaudRate != dcb.BaudRate ||
      back.StopBits != dcb.StopBits || (back.ByteSize == dcb.ByteSize && back.Parity == dcb.Parity))
    return refused;
  DCB detour = dcb;
  detour.StopBits = dcb.StopBits == ONESTOPBIT ? TWOSTOPBITS : ONESTOPBIT;
  if (!sys_.setState(handle, &detour) || !sys_.setState(handle, &dcb)) return refused;
  return 0;
}

void Win32Serial::release(Port& p) {
  if (p.handle != INVALID_HANDLE_VALUE) sys_.close(p.handle);
  p.handle = INVALID_HANDLE_VALUE;
  if (p.claim) ::CloseHandle(p.claim);
  p.claim = nullptr;
}

std::int32_t Win32Serial::Func012(std::int32_t port, std::int32_t window) {
  if (port < 0) return ERROR_INVALID_PARAMETER;
  if (claimed(port)) return ERROR_ACCESS_DENIED;
  auto p = std::make_unique<Port>();
  p->name = deviceName(port);
  p->window = window;
  ::SetLastError(0);
  p->claim = ::CreateMutexW(nullptr, FALSE, claimName(port).c_str());
  if (!p->claim) return static_cast<std::int32_t>(::GetLastError());
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    release(*p);
    return ERROR_ACCESS_DENIED;
  }
  if (const DWORD e = openDevice(p->name, p->handle)) {
    release(*p);
    return static_cast<std::int32_t>(e);
  }
  ports_.emplace(port, std::move(p));
  return 0;
}

std::int32_t Win32Serial::Func001(std::int32_t port, std::int32_t speed, std::int32_t parity,
                                  std::int32_t dataBits, std::int32_t stopBits) {
  Port* p = claimed(port);
  if (!p) return ERROR_INVALID_HANDLE;
  if (speed <= 0 || parity < 0 || parity > 2 || dataBits < 5 || dataBits > 8 || stopBits < 1 ||
      stopBits > 2)
    return ERROR_INVALID_PARAMETER;
  const Settings s{speed, parity, dataBits, stopBits};
  // A device that is gone gets these settings when it comes back.
  if (p->handle != INVALID_HANDLE_VALUE)
    if (const DWORD e = apply(p->handle, s)) return static_cast<std::int32_t>(e);
  p->settings = s;
  return 0;
}

std::int32_t Win32Serial::Func084(std::int32_t port, std::int32_t) {
  const auto it = ports_.find(port);
  if (it == ports_.end()) return 0;
  release(*it->second);
  ports_.erase(it);
  return 0;
}

void Win32Serial::lose(Port& p) {
  sys_.close(p.handle);
  p.handle = INVALID_HANDLE_VALUE;
  p.nextReopen = sys_.now() + kReopenInterval;
}

void Win32Serial::reopen(Port& p) {
  const auto now = sys_.now();
  if (now < p.nextReopen) return;
  p.nextReopen = now + kReopenInterval;
  HANDLE h = INVALID_HANDLE_VALUE;
  if (openDevice(p.name, h) != 0) return;
  if (p.settings && apply(h, *p.settings) != 0) {
    sys_.close(h);
    return;
  }
  p.handle = h;
}

std::size_t Win32Serial::fill(Port& p) {
  if (p.handle == INVALID_HANDLE_VALUE) return 0;
  if (p.head == p.tail) {
    p.head = p.tail = 0;
  } else if (p.head > 0) {
    std::copy(p.buffer.begin() + static_cast<std::ptrdiff_t>(p.head),
              p.buffer.begin() + static_cast<std::ptrdiff_t>(p.tail), p.buffer.begin());
    p.tail -= p.head;
    p.head = 0;
  }
  const std::size_t room = p.buffer.size() - p.tail;
  if (room == 0) return 0;
  DWORD got = 0;
  if (!sys_.read(p.handle, p.buffer.data() + p.tail, static_cast<DWORD>(room), &got)) {
    lose(p);
    return 0;
  }
  const std::size_t taken = std::min<std::size_t>(got, room);
  p.tail += taken;
  return taken;
}

std::int32_t Win32Serial::Func062(std::int32_t port) {
  Port* p = claimed(port);
  if (!p) return 0;
  if (p->handle == INVALID_HANDLE_VALUE) reopen(*p);
  std::size_t queued = 0;
  if (p->handle != INVALID_HANDLE_VALUE) {
    DWORD errors = 0;
    COMSTAT status{};
    // A pulled adapter fails here; under Wine so does a pseudo-terminal whose
    // other side has gone, while its reads still answer "nothing".
    if (sys_.clearError(p->handle, &errors, &status))
      queued = status.cbInQue;
    else
      lose(*p);
  }
  // Under Wine a pseudo-terminal reports and hands over a few kilobytes at a
  // time: read until nothing more comes or the buffer is full, so that the
  // count covers what the device holds and not only its first slice.
  if (queued > 0)
    for (std::size_t got; (got = fill(*p)) > 0;) queued -= std::min(queued, got);
  return static_cast<std::int32_t>(std::min(p->tail - p->head + queued, kMostReported));
}

std::int32_t Win32Serial::Func041(std::int32_t port) {
  Port* p = claimed(port);
  if (!p) return -1;
  if (p->head == p->tail && fill(*p) == 0) return -1;
  return p->buffer[p->head++];
}

}  // namespace quorvel
