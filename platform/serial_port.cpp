#include "platform/serial_port.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/system_serial.hpp"
#include "profile/ini.hpp"

namespace quorvel {

namespace {

// The kernel's termios2 (the generic layout of x86, ARM and RISC-V), spelt out
// here because <asm/termbits.h> cannot share a translation unit with
// <termios.h>. It carries any speed in bits per second.
struct Termios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};
static_assert(sizeof(Termios2) == 44);
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, Termios2);  // TCGETS2
constexpr unsigned long kSetTermios2 = _IOW('T', 0x2B, Termios2);  // TCSETS2
static_assert(kGetTermios2 == 0x802C542AUL);
constexpr tcflag_t kKernelSpeedMask = 0x100F;  // CBAUD
constexpr tcflag_t kOtherSpeed = 0x1000;       // BOTHER
constexpr unsigned kInputSpeedShift = 16;      // IBSHIFT

// Unix98 pseudo-terminal slaves.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

struct SpeedCode {
  std::int32_t bits;
  speed_t code;
};
constexpr SpeedCode kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> standardSpeed(std::int32_t bits) {
  for (const auto& s : kSpeeds)
    if (s.bits == bits) return s.code;
  return std::nullopt;
}

bool isPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = ::major(st.st_rdev);
  return m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
}

bool deviceGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EBADF;
}

}  // namespace

int SerialSystem::open(const char* path, int flags) {
  return ::open(path, flags);
}
int SerialSystem::close(int fd) {
  return ::close(fd);
}
ssize_t SerialSystem::read(int fd, void* buffer, std::size_t size) {
  return ::read(fd, buffer, size);
}
int SerialSystem::flock(int fd, int operation) {
  return ::flock(fd, operation);
}
int SerialSystem::ioctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}
int SerialSystem::tcgetattr(int fd, termios* settings) {
  return ::tcgetattr(fd, settings);
}
int SerialSystem::tcsetattr(int fd, const termios* settings) {
  return ::tcsetattr(fd, TCSANOW, settings);
}
std::chrono::steady_clock::time_point SerialSystem::now() {
  return std::chrono::steady_clock::now();
}
SerialSystem& SerialSystem::real() {
  static SerialSystem system;
  return system;
}

std::string TermiosSerial::configuredDevice(int port) {
  return LER_INI("Portas", "COM" + std::to_string(static_cast<long long>(port) + 1), "",
                 "quorvel.ini");
}

TermiosSerial::TermiosSerial() : TermiosSerial(configuredDevice) {}

TermiosSerial::TermiosSerial(DeviceMap devices, SerialSystem& system)
    : devices_(std::move(devices)), sys_(system) {}

TermiosSerial::~TermiosSerial() {
  for (auto& [index, p] : ports_)
    if (p->fd >= 0) closeDevice(p->fd);
}

TermiosSerial::Port* TermiosSerial::claimed(std::int32_t port) {
  const auto it = ports_.find(port);
  return it == ports_.end() ? nullptr : it->second.get();
}

int TermiosSerial::openExclusive(const std::string& path, int& fd) {
  int f;
  do f = sys_.open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  while (f < 0 && errno == EINTR);
  if (f < 0) return errno;
  // flock keeps out other processes whatever their privileges; TIOCEXCL also
  // keeps out programs that open the device without taking the lock.
  int r;
  do r = sys_.flock(f, LOCK_EX | LOCK_NB);
  while (r < 0 && errno == EINTR);
  if (r < 0) {
    const int e = errno == EWOULDBLOCK ? EBUSY : errno;
    sys_.close(f);
    return e;
  }
  if (sys_.ioctl(f, TIOCEXCL, nullptr) < 0) {
    const int e = errno;
    sys_.close(f);
    return e;
  }
  fd = f;
  return 0;
}

void TermiosSerial::closeDevice(int fd) {
  // The exclusive flag belongs to the terminal and would outlive our descriptor.
  sys_.ioctl(fd, TIOCNXCL, nullptr);
  sys_.close(fd);
}

int TermiosSerial::apply(int fd, const LineSettings& s) {
  termios t{};
  if (sys_.tcgetattr(fd, &t) < 0) return errno;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[static_cast<std::size_t>(s.dataBits - 5)];
  if (s.parity != 0) t.c_cflag |= PARENB;
  if (s.parity == 1) t.c_cflag |= PARODD;
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
  // With O_NONBLOCK, VMIN 1 makes an empty line answer EAGAIN, so that a read
  // of 0 bytes means a hang-up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  const auto code = standardSpeed(s.speed);
  if (::cfsetspeed(&t, code.value_or(B38400)) < 0) return EINVAL;
  if (sys_.tcsetattr(fd, &t) < 0) {
    // glibc answers EINVAL when what took differs from what was asked, which a
    // pseudo-terminal that keeps 8 bits does once it is raw: judge the read-back.
    if (errno != EINVAL || !isPseudoTerminal(fd)) return errno;
  }

  if (!code) {
    Termios2 t2{};
    if (sys_.ioctl(fd, kGetTermios2, &t2) < 0) return errno;
    t2.c_cflag &= ~(kKernelSpeedMask | (kKernelSpeedMask << kInputSpeedShift));
    t2.c_cflag |= kOtherSpeed | (kOtherSpeed << kInputSpeedShift);
    t2.c_ispeed = static_cast<speed_t>(s.speed);
    t2.c_ospeed = static_cast<speed_t>(s.speed);
    if (sys_.ioctl(fd, kSetTermios2, &t2) < 0) return errno;
  }

  // tcsetattr succeeds when any part of the change took; read back what did.
  termios back{};
  if (sys_.tcgetattr(fd, &back) < 0) return errno;
  constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD;
  const tcflag_t differs = (back.c_cflag ^ t.c_cflag) & (kFraming | CSTOPB);
  if (code && ::cfgetospeed(&back) != *code) return EINVAL;
  // A pseudo-terminal keeps 8 bits without parity whatever it is told.
  if (differs != 0 && ((differs & ~kFraming) != 0 || !isPseudoTerminal(fd))) return EINVAL;
  return 0;
}

std::int32_t TermiosSerial::Func012(std::int32_t port, std::int32_t window) {
  if (port < 0) return EINVAL;
  if (claimed(port)) return EBUSY;
  std::string path = devices_(port);
  if (path.empty()) path = "/dev/ttyS" + std::to_string(port);
  int fd = -1;
  if (const int e = openExclusive(path, fd)) return e;
  auto p = std::make_unique<Port>();
  p->path = std::move(path);
  p->fd = fd;
  p->window = window;
  ports_.emplace(port, std::move(p));
  return 0;
}

std::int32_t TermiosSerial::Func001(std::int32_t port, std::int32_t speed, std::int32_t parity,
                                    std::int32_t dataBits, std::int32_t stopBits) {
  Port* p = claimed(port);
  if (!p) return EBADF;
  if (speed <= 0 || parity < 0 || parity > 2 || dataBits < 5 || dataBits > 8 || stopBits < 1 ||
      stopBits > 2)
    return EINVAL;
  const LineSettings s{speed, parity, dataBits, stopBits};
  // A device that is gone gets these settings when it comes back.
  if (p->fd >= 0)
    if (const int e = apply(p->fd, s)) return e;
  p->settings = s;
  return 0;
}

std::int32_t TermiosSerial::Func084(std::int32_t port, std::int32_t) {
  const auto it = ports_.find(port);
  if (it == ports_.end()) return 0;
  if (it->second->fd >= 0) closeDevice(it->second->fd);
  ports_.erase(it);
  return 0;
}

void TermiosSerial::lose(Port& p) {
  closeDevice(p.fd);
  p.fd = -1;
  p.nextReopen = sys_.now() + kReopenInterval;
}

void TermiosSerial::reopen(Port& p) {
  const auto now = sys_.now();
  if (now < p.nextReopen) return;
  p.nextReopen = now + kReopenInterval;
  int fd = -1;
  if (openExclusive(p.path, fd) != 0) return;
  if (p.settings && apply(fd, *p.settings) != 0) {
    closeDevice(fd);
    return;
  }
  p.fd = fd;
}

bool TermiosSerial::fill(Port& p) {
  if (p.fd < 0) return false;
  if (p.head == p.tail) p.head = p.tail = 0;
  if (p.head > 0) {
    std::copy(p.buffer.begin() + static_cast<std::ptrdiff_t>(p.head),
              p.buffer.begin() + static_cast<std::ptrdiff_t>(p.tail), p.buffer.begin());
    p.tail -= p.head;
    p.head = 0;
  }
  for (;;) {
    const ssize_t n = sys_.read(p.fd, p.buffer.data() + p.tail, p.buffer.size() - p.tail);
    if (n > 0) {
      p.tail += static_cast<std::size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || deviceGone(errno)) lose(p);
    return false;
  }
}

std::int32_t TermiosSerial::Func062(std::int32_t port) {
  Port* p = claimed(port);
  if (!p) return 0;
  if (p->fd < 0 && p->head == p->tail) reopen(*p);
  // A terminal hands over at most a few kilobytes per read: keep reading until
  // it has nothing more or the buffer is full, so that the count covers what
  // the kernel holds and not only its first slice.
  while (p->tail - p->head < p->buffer.size() && fill(*p)) {
  }
  return static_cast<std::int32_t>(p->tail - p->head);
}

std::int32_t TermiosSerial::Func041(std::int32_t port) {
  Port* p = claimed(port);
  if (!p) return -1;
  if (p->head == p->tail && !fill(*p)) return -1;
  return p->buffer[p->head++];
}

std::unique_ptr<SerialLibrary> systemSerial() {
  return std::make_unique<TermiosSerial>();
}

}  // namespace quorvel
