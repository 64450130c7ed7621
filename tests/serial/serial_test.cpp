// The serial layer against real pseudo-terminals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "platform/serial_port.hpp"
#include "pty.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::Eq;

TermiosSerial::DeviceMap devices(std::map<int, std::string> names) {
  return [names](int port) {
    const auto it = names.find(port);
    return it == names.end() ? std::string() : it->second;
  };
}

// The result of a claim of `path` made by another process.
int claimInOtherProcess(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    TermiosSerial serial(devices({{0, path}}));
    ::_exit(serial.Func012(0, 1));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void waitReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10'000), 1);
}

TEST(TermiosSerial, ClaimsSetsUpReadsRawBytesAndReleases) {
  Pty pty;
  TermiosSerial serial(devices({{2, pty.path()}}));
  ASSERT_EQ(serial.Func012(2, 4660), 0);
  ASSERT_EQ(serial.Func001(2, 9600, 0, 8, 1), 0);
  EXPECT_EQ(serial.Func062(2), 0);
  EXPECT_EQ(serial.Func041(2), -1);

  // Raw: CR stays CR, NUL and bytes above 127 pass unchanged.
  const std::string line("+001234\r\n\x02\x00\xff", 12);
  pty.write(line);
  EXPECT_EQ(drain(serial, 2, line.size()), line);
  EXPECT_EQ(serial.Func041(2), -1);

  EXPECT_EQ(serial.Func084(2, 4660), 0);
  EXPECT_EQ(serial.Func062(2), 0);
  EXPECT_EQ(serial.Func041(2), -1);
  EXPECT_EQ(serial.Func001(2, 9600, 0, 8, 1), EBADF);
  EXPECT_EQ(serial.Func084(2, 4660), 0);

  ASSERT_EQ(serial.Func012(2, 4660), 0);
  ASSERT_EQ(serial.Func001(2, 9600, 0, 8, 1), 0);
  pty.write("x\r");
  EXPECT_EQ(drain(serial, 2, 2), "x\r");
}

TEST(TermiosSerial, SecondClaimantIsBusyInThisProcessAndInOthers) {
  Pty pty;
  TermiosSerial serial(devices({{0, pty.path()}, {1, pty.path()}}));
  ASSERT_EQ(serial.Func012(0, 1), 0);
  EXPECT_EQ(serial.Func012(0, 1), EBUSY);
  EXPECT_EQ(serial.Func012(1, 1), EBUSY);  // the same device as another port
  EXPECT_EQ(claimInOtherProcess(pty.path()), EBUSY);

  serial.Func084(0, 1);
  EXPECT_EQ(claimInOtherProcess(pty.path()), 0);
  EXPECT_EQ(serial.Func012(1, 1), 0);
}

TEST(TermiosSerial, RefusesWhatItCannotDo) {
  Pty pty;
  TempDir dir;
  writeFile(dir / "plain", "not a terminal");
  TermiosSerial serial(
      devices({{0, pty.path()}, {1, (dir / "missing").string()}, {2, (dir / "plain").string()}}));
  EXPECT_EQ(serial.Func012(1, 0), ENOENT);
  EXPECT_EQ(serial.Func012(2, 0), ENOTTY);
  EXPECT_EQ(serial.Func012(-1, 0), EINVAL);
  for (const int port : {0, 1, 2, -1}) {
    EXPECT_EQ(serial.Func001(port, 9600, 0, 8, 1), EBADF) << port;
    EXPECT_EQ(serial.Func062(port), 0) << port;
    EXPECT_EQ(serial.Func041(port), -1) << port;
  }

  RecordingSystem sys;
  TermiosSerial claimed(devices({{0, pty.path()}}), sys);
  ASSERT_EQ(claimed.Func012(0, 0), 0);
  ASSERT_EQ(claimed.Func001(0, 4800, 0, 8, 1), 0);
  struct Bad {
    std::int32_t speed, parity, dataBits, stopBits;
  };
  for (const Bad b :
       {Bad{0, 0, 8, 1}, Bad{-9600, 0, 8, 1}, Bad{9600, 3, 8, 1}, Bad{9600, -1, 8, 1},
        Bad{9600, 0, 4, 1}, Bad{9600, 0, 9, 1}, Bad{9600, 0, 8, 0}, Bad{9600, 0, 8, 3}}) {
    EXPECT_EQ(claimed.Func001(0, b.speed, b.parity, b.dataBits, b.stopBits), EINVAL)
        << b.speed << " " << b.parity << " " << b.dataBits << " " << b.stopBits;
  }
  EXPECT_EQ(kernelLine(sys.lastFd).speed, 4800u);
}

TEST(TermiosSerial, PortWithoutAnEntryIsTheMatchingTtyS) {
  TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
  fs::create_directories(dir / "quorvel");
  writeFile(dir / "quorvel" / "quorvel.ini",
            "[Configuração]\r\nCOM2=/elsewhere\r\n[Portas]\r\ncom1=/dev/scale\r\nCOM3=\r\n");
  RecordingSystem sys;
  sys.openErrors = {ENOENT, ENOENT, ENOENT, ENOENT};
  TermiosSerial serial(TermiosSerial::configuredDevice, sys);
  for (const int port : {0, 1, 2, 3999}) EXPECT_EQ(serial.Func012(port, 0), ENOENT);
  EXPECT_THAT(sys.opened, ElementsAre("/dev/scale", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3999"));
}

TEST(TermiosSerial, SetsUpAnyLineAPseudoTerminalTakes) {
  struct Case {
    std::int32_t speed, parity, dataBits, stopBits;
  };
  // 7 and 5 data bits and parity are ignored by a pseudo-terminal and must not
  // fail; 12345 and 250000 are no standard speeds.
  for (const Case c : {Case{2400, 0, 8, 1}, Case{9600, 0, 7, 1}, Case{4800, 2, 7, 2},
                       Case{19200, 1, 5, 1}, Case{12345, 0, 8, 1}, Case{250000, 2, 6, 2}}) {
    SCOPED_TRACE(c.speed);
    Pty pty;
    RecordingSystem sys;
    TermiosSerial serial(devices({{0, pty.path()}}), sys);
    ASSERT_EQ(serial.Func012(0, 0), 0);
    EXPECT_EQ(serial.Func001(0, c.speed, c.parity, c.dataBits, c.stopBits), 0);
    const KernelLine k = kernelLine(sys.lastFd);
    EXPECT_EQ(k.speed, static_cast<unsigned>(c.speed));
    EXPECT_EQ((k.cflag & CSTOPB) != 0, c.stopBits == 2);
    pty.write("\x83z\r");
    EXPECT_EQ(drain(serial, 0, 3), "\x83z\r");
  }
}

TEST(TermiosSerial, SetsUpSevenBitsOnATerminalThatIsAlreadyRaw) {
  // The simulator holds its terminal side open in raw mode; a second set-up of
  // the same line, as after a restart, must take as the first did.
  Pty pty;
  const int held = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);
  termios raw{};
  ASSERT_EQ(::tcgetattr(held, &raw), 0);
  ::cfmakeraw(&raw);
  ASSERT_EQ(::tcsetattr(held, TCSANOW, &raw), 0);
  TermiosSerial serial(devices({{0, pty.path()}}));
  for (int start = 0; start < 2; ++start) {
    ASSERT_EQ(serial.Func012(0, 0), 0);
    EXPECT_EQ(serial.Func001(0, 9600, 0, 7, 1), 0) << "start " << start;
    EXPECT_EQ(serial.Func084(0, 0), 0);
  }
  ::close(held);
}

TEST(TermiosSerial, DrainsALargeBurstByteForByteFromItsBuffer) {
  Pty pty;
  RecordingSystem sys;
  TermiosSerial serial(devices({{0, pty.path()}}), sys);
  ASSERT_EQ(serial.Func012(0, 0), 0);
  ASSERT_EQ(serial.Func001(0, 115200, 0, 8, 1), 0);
  std::string burst(100 * 1024, '\0');
  for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>(i * 7 % 251);
  std::thread writer([&] { pty.write(burst); });

  std::string got;
  bool countedBytesWaited = true;
  bool readsPerByte = false;
  eventually([&] {
    const std::int32_t waiting = serial.Func062(0);
    if (waiting > 0 && resultCode(waiting) == 0) countedBytesWaited = false;
    const int readsBefore = sys.reads;
    for (std::int32_t i = 0; i < waiting; ++i) {
      const std::int32_t b = serial.Func041(0);
      if (b < 0) countedBytesWaited = false;
      got += static_cast<char>(b);
    }
    if (sys.reads != readsBefore) readsPerByte = true;
    return got.size() >= burst.size();
  });
  writer.join();
  EXPECT_TRUE(countedBytesWaited);
  EXPECT_FALSE(readsPerByte);
  ASSERT_EQ(got.size(), burst.size());
  EXPECT_TRUE(got == burst);
  EXPECT_EQ(serial.Func041(0), -1);
}

TEST(TermiosSerial, CountsWhatTheDeviceHoldsBeyondOneRead) {
  Pty pty;
  RecordingSystem sys;
  TermiosSerial serial(devices({{0, pty.path()}}), sys);
  ASSERT_EQ(serial.Func012(0, 0), 0);
  ASSERT_EQ(serial.Func001(0, 9600, 0, 8, 1), 0);
  const auto waitingInKernel = [&](int count) {
    return eventually([&] {
      int n = 0;
      return ::ioctl(sys.lastFd, FIONREAD, &n) == 0 && n == count;
    });
  };
  // A terminal hands over its bytes in slices; the count covers all of them.
  pty.write(std::string(3000, 'a'));
  ASSERT_TRUE(waitingInKernel(3000));
  sys.readSlice = 1000;
  sys.reads = 0;
  EXPECT_EQ(serial.Func062(0), 3000);
  EXPECT_EQ(sys.reads, 4);  // three slices, and one that found nothing more
  EXPECT_EQ(drain(serial, 0, 3000), std::string(3000, 'a'));

  // Bytes taken before the device vanished are still handed out.
  pty.write(std::string(2000, 'b'));
  ASSERT_TRUE(waitingInKernel(2000));
  sys.readErrors = {0, EIO};
  EXPECT_EQ(serial.Func062(0), 1000);
  EXPECT_EQ(drain(serial, 0, 1000), std::string(1000, 'b'));
  EXPECT_EQ(serial.Func041(0), -1);
}

TEST(TermiosSerial, ClaimsSeveralPortsAtOnce) {
  Pty first, second;
  TermiosSerial serial(devices({{0, first.path()}, {7, second.path()}}));
  ASSERT_EQ(serial.Func012(0, 1), 0);
  ASSERT_EQ(serial.Func012(7, 1), 0);
  ASSERT_EQ(serial.Func001(0, 9600, 0, 7, 1), 0);
  ASSERT_EQ(serial.Func001(7, 2400, 0, 8, 1), 0);
  first.write("one\r");
  second.write("two\r");
  EXPECT_EQ(drain(serial, 7, 4), "two\r");
  EXPECT_EQ(drain(serial, 0, 4), "one\r");
  serial.Func084(0, 1);
  second.write("still\r");
  EXPECT_EQ(drain(serial, 7, 6), "still\r");
}

TEST(TermiosSerial, RetriesInterruptedCallsAndReopensAfterAReadError) {
  Pty pty;
  RecordingSystem sys;
  TermiosSerial serial(devices({{0, pty.path()}}), sys);
  sys.openErrors = {EINTR};
  ASSERT_EQ(serial.Func012(0, 0), 0);
  EXPECT_EQ(sys.opened.size(), 2u);
  ASSERT_EQ(serial.Func001(0, 9600, 0, 8, 1), 0);

  pty.write("ab");
  waitReadable(sys.lastFd);
  sys.readErrors = {EINTR};
  EXPECT_EQ(serial.Func062(0), 2);
  EXPECT_EQ(drain(serial, 0, 2), "ab");

  pty.write("c");
  const int fd = sys.lastFd;
  waitReadable(fd);
  sys.readErrors = {EIO};
  EXPECT_EQ(serial.Func062(0), 0);
  EXPECT_EQ(serial.Func041(0), -1);
  EXPECT_THAT(sys.closed, ElementsAre(fd));

  // No new attempt before the interval has passed.
  const std::size_t attempts = sys.opened.size();
  EXPECT_EQ(serial.Func062(0), 0);
  EXPECT_EQ(sys.opened.size(), attempts);

  sys.advanced += TermiosSerial::kReopenInterval;
  serial.Func062(0);
  EXPECT_EQ(sys.opened.size(), attempts + 1);
  pty.write("d");
  // Whether the kernel kept "c" across the reopen is its own affair.
  std::string got = drain(serial, 0, 1);
  if (got == "c") got += drain(serial, 0, 1);
  EXPECT_THAT(got, AnyOf(Eq("d"), Eq("cd")));
}

TEST(TermiosSerial, DeviceThatVanishesAndComesBackResumesWithTheSameSettings) {
  TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
  const fs::path link = dir / "scale";
  fs::create_directories(dir / "quorvel");
  writeFile(dir / "quorvel" / "quorvel.ini", "[Portas]\r\nCOM2=" + link.string() + "\r\n");
  auto first = std::make_unique<Pty>();
  fs::create_symlink(first->path(), link);

  RecordingSystem sys;
  TermiosSerial serial(TermiosSerial::configuredDevice, sys);
  ASSERT_EQ(serial.Func012(1, 9), 0);
  ASSERT_EQ(serial.Func001(1, 12345, 2, 7, 2), 0);
  first->write("a\r");
  EXPECT_EQ(drain(serial, 1, 2), "a\r");

  first->close();
  fs::remove(link);
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(resultCode(serial.Func062(1)), 0);
    EXPECT_EQ(serial.Func041(1), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GT(sys.opened.size(), 1u);  // it looked for the device again meanwhile
  EXPECT_EQ(sys.opens, 1);

  Pty second;
  fs::create_symlink(second.path(), link);
  ASSERT_TRUE(eventually([&] {
    serial.Func062(1);
    return sys.opens == 2;
  }));
  const KernelLine k = kernelLine(sys.lastFd);
  EXPECT_EQ(k.speed, 12345u);
  EXPECT_NE(k.cflag & CSTOPB, 0u);
  second.write("b\r");
  EXPECT_EQ(drain(serial, 1, 2), "b\r");
}

}  // namespace
}  // namespace quorvel::test
