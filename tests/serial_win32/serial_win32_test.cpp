// The Win32 serial layer: against a system-call seam for what a pseudo-terminal
// cannot show, and under Wine against COM ports that run.sh maps to simulated
// scales on pseudo-terminals:
//   COM1  TOL lines of 12.5
//   COM2  the bytes 0 to 255, 256 times over, once the file "burst" appears in
//         QUORVEL_TEST_DIR
//   COM3  TOL lines of 1 until the file "unplug" appears in QUORVEL_TEST_DIR,
//         then the line is gone for a while and comes back with lines of 2
//   COM4 to COM7  Precision 123.4, DIG 1500, FIL 0.25, TOL 12.5 (capture_test.cpp)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port_win32.hpp"
#include "tests/serial_win32/line.hpp"
#include "tests/support/system.hpp"

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// ---- against the seam ----

class FakeSystem : public Win32SerialSystem {
 public:
  std::vector<std::wstring> opened;
  std::vector<DCB> setUps;  // as the driver was given them
  int closes = 0;
  std::deque<DWORD> queues;  // cbInQue of the next status queries; 0 once they run out
  std::deque<DWORD> statusErrors, setUpErrors;  // 0 lets one call through
  std::string incoming;                         // bytes the next reads hand out
  std::size_t slice = SIZE_MAX;  // most bytes one read hands out and a status query reports
  int reads = 0;
  std::chrono::steady_clock::time_point clock{};

  // When present, the device holds its line settings as a driver does: the speed
  // is set in a step of its own, then the rest.
  struct Line {
    DCB held{};
    // A pseudo-terminal under Wine: keeps 8 bits without parity, and once set up
    // refuses a set-up in which nothing but that framing would change.
    bool frameless = false;
    bool setUp = false;
    BYTE fewestBits = 5;  // hardware that cannot frame fewer bits refuses them
  };
  std::optional<Line> line;

  HANDLE open(const std::wstring& name) override {
    opened.push_back(name);
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x100 + opened.size()));
  }
  BOOL close(HANDLE) override {
    ++closes;
    return TRUE;
  }
  BOOL read(HANDLE, void* buffer, DWORD size, DWORD* got) override {
    ++reads;
    *got = static_cast<DWORD>(std::min({std::size_t{size}, incoming.size(), slice}));
    incoming.copy(static_cast<char*>(buffer), *got);
    incoming.erase(0, *got);
    return TRUE;
  }
  BOOL clearError(HANDLE, DWORD* errors, COMSTAT* status) override {
    *errors = 0;
    if (fail(statusErrors)) return FALSE;
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(std::min(incoming.size(), slice));
    if (!queues.empty()) {
      status->cbInQue = queues.front();
      queues.pop_front();
    }
    return TRUE;
  }
  BOOL getState(HANDLE, DCB* dcb) override {
    if (line) {
      *dcb = line->held;
      return TRUE;
    }
    *dcb = DCB{};
    dcb->DCBlength = sizeof(DCB);
    dcb->fOutxCtsFlow = TRUE;  // a port left with flow control by its last user
    dcb->fOutX = TRUE;
    dcb->fNull = TRUE;
    return TRUE;
  }
  BOOL setState(HANDLE, DCB* dcb) override {
    if (fail(setUpErrors)) return FALSE;
    if (line && !lineTakes(*dcb)) return FALSE;
    setUps.push_back(*dcb);
    return TRUE;
  }
  BOOL setTimeouts(HANDLE, COMMTIMEOUTS* t) override {
    EXPECT_EQ(t->ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t->ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t->ReadTotalTimeoutConstant, 0u);
    return TRUE;
  }
  std::chrono::steady_clock::time_point now() override { return clock; }

 private:
  bool lineTakes(const DCB& asked) {
    DCB& held = line->held;
    held.BaudRate = asked.BaudRate;
    if (asked.ByteSize < line->fewestBits) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    DCB took = asked;
    if (line->frameless) {
      took.ByteSize = 8;
      took.Parity = NOPARITY;
      took.fParity = FALSE;
    }
    const bool framingLost = took.ByteSize != asked.ByteSize || took.Parity != asked.Parity;
    if (framingLost && line->setUp && took.StopBits == held.StopBits) {
      ::SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    held = took;
    line->setUp = true;
    return true;
  }

  static bool fail(std::deque<DWORD>& errors) {
    if (errors.empty()) return false;
    const DWORD e = errors.front();
    errors.pop_front();
    if (e == 0) return false;
    ::SetLastError(e);
    return true;
  }
};

TEST(Win32SerialSeam, SetsUpTheLineAsAsked) {
  struct Case {
    std::int32_t speed, parity, dataBits, stopBits;
    BYTE dcbParity, dcbStopBits;
  };
  for (const Case& c :
       {Case{9600, 0, 7, 1, NOPARITY, ONESTOPBIT}, Case{2400, 0, 8, 1, NOPARITY, ONESTOPBIT},
        Case{1200, 1, 7, 2, ODDPARITY, TWOSTOPBITS},
        Case{250000, 2, 5, 1, EVENPARITY, ONESTOPBIT}}) {
    FakeSystem sys;
    Win32Serial serial(sys);
    ASSERT_EQ(serial.Func012(4, 1), 0);
    EXPECT_EQ(sys.opened, std::vector<std::wstring>{L"\\\\.\\COM5"});
    ASSERT_EQ(serial.Func001(4, c.speed, c.parity, c.dataBits, c.stopBits), 0);
    ASSERT_EQ(sys.setUps.size(), 1u);
    const DCB& d = sys.setUps[0];
    EXPECT_EQ(d.BaudRate, static_cast<DWORD>(c.speed));
    EXPECT_EQ(d.ByteSize, c.dataBits);
    EXPECT_EQ(d.Parity, c.dcbParity);
    EXPECT_EQ(d.StopBits, c.dcbStopBits);
    EXPECT_EQ(d.fParity, c.parity != 0 ? 1u : 0u);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fOutxCtsFlow | d.fOutxDsrFlow | d.fOutX | d.fInX | d.fNull | d.fAbortOnError, 0);
    EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
  }
}

TEST(Win32SerialSeam, RefusesWhatItCannotSetUp) {
  FakeSystem sys;
  Win32Serial serial(sys);
  EXPECT_EQ(serial.Func001(0, 9600, 0, 8, 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(serial.Func012(-1, 1), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(serial.Func012(0, 1), 0);
  for (const auto& bad : {std::vector<std::int32_t>{0, 0, 8, 1},
                          {9600, 3, 8, 1},
                          {9600, -1, 8, 1},
                          {9600, 0, 4, 1},
                          {9600, 0, 9, 1},
                          {9600, 0, 8, 0},
                          {9600, 0, 8, 3}})
    EXPECT_EQ(serial.Func001(0, bad[0], bad[1], bad[2], bad[3]), ERROR_INVALID_PARAMETER)
        << bad[0] << " " << bad[1] << " " << bad[2] << " " << bad[3];
  EXPECT_TRUE(sys.setUps.empty());
  for (const DWORD e : {DWORD{ERROR_GEN_FAILURE}, DWORD{ERROR_INVALID_PARAMETER}}) {
    sys.setUpErrors = {e};
    EXPECT_EQ(serial.Func001(0, 9600, 0, 8, 1), static_cast<std::int32_t>(e));
  }
  EXPECT_TRUE(sys.setUps.empty());
}

TEST(Win32SerialSeam, EachStartSetsUpALineWithoutFramingAgainButARealRefusalStands) {
  using SetUp = std::array<std::int32_t, 4>;  // speed, parity, data bits, stop bits
  struct Case {
    const char* name;
    FakeSystem::Line line;
    std::vector<SetUp> setUps;  // one per start of the program
    std::vector<std::int32_t> results;
  };
  FakeSystem::Line pty;
  pty.frameless = true;
  FakeSystem::Line eightBitsOnly;
  eightBitsOnly.held.ByteSize = 8;
  eightBitsOnly.fewestBits = 8;
  const Case cases[] = {
      {"7 bits again", pty, {{9600, 0, 7, 1}, {9600, 0, 7, 1}, {9600, 0, 7, 1}}, {0, 0, 0}},
      {"other settings, each twice",
       pty,
       {{9600, 0, 8, 1}, {9600, 0, 8, 1}, {4800, 2, 7, 2}, {4800, 2, 7, 2}, {2400, 1, 7, 1}},
       {0, 0, 0, 0, 0}},
      {"hardware that cannot frame 7 bits",
       eightBitsOnly,
       {{9600, 0, 8, 1}, {9600, 0, 7, 1}, {9600, 0, 7, 2}},
       {0, ERROR_INVALID_PARAMETER, ERROR_INVALID_PARAMETER}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSystem sys;
    sys.line = c.line;
    std::vector<std::int32_t> results;
    for (const SetUp& u : c.setUps) {
      Win32Serial serial(sys);
      ASSERT_EQ(serial.Func012(0, 1), 0);
      results.push_back(serial.Func001(0, u[0], u[1], u[2], u[3]));
      if (results.back() == 0) {
        // The line is left as asked, not as the detour had it.
        const DCB& last = sys.setUps.back();
        EXPECT_EQ(last.BaudRate, static_cast<DWORD>(u[0]));
        EXPECT_EQ(last.ByteSize, u[2]);
        EXPECT_EQ(last.StopBits, u[3] == 2 ? TWOSTOPBITS : ONESTOPBIT);
        EXPECT_EQ(sys.line->held.StopBits, last.StopBits);
      }
    }
    EXPECT_EQ(results, c.results);
  }
}

TEST(Win32SerialSeam, WaitingCountIsNeverZeroInItsLow16BitsWhileBytesWait) {
  struct Case {
    DWORD queued;
    std::int32_t reported;
  };
  for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{4095, 4095}, Case{32768, 32768},
                        Case{65535, 65535}, Case{65536, 65535}, Case{131072 + 5, 65535}}) {
    FakeSystem sys;
    Win32Serial serial(sys);
    ASSERT_EQ(serial.Func012(0, 1), 0);
    sys.incoming.assign(std::min<DWORD>(c.queued, 100), 'x');
    sys.queues = {c.queued};
    const std::int32_t r = serial.Func062(0);
    EXPECT_EQ(r, c.reported) << c.queued;
    EXPECT_EQ(resultCode(r) != 0, c.queued != 0) << c.queued;
  }
}

TEST(Win32SerialSeam, CountCoversWhatTheDeviceHoldsBeyondOneRead) {
  // A device holding 100 000 bytes that it reports and hands over 4000 at a time.
  std::string held;
  for (int i = 0; i < 100000; ++i) held += static_cast<char>(i * 7 % 251);
  FakeSystem sys;
  sys.slice = 4000;
  sys.incoming = held;
  Win32Serial serial(sys);
  ASSERT_EQ(serial.Func012(0, 1), 0);

  std::string got;
  for (const std::int32_t expected : {65535, 100000 - 65535}) {
    ASSERT_EQ(serial.Func062(0), expected);
    // All of the count is in the layer's buffer: taking it reads nothing more.
    const int reads = sys.reads;
    for (std::int32_t n = 0; n < expected; ++n) {
      const std::int32_t b = serial.Func041(0);
      ASSERT_GE(b, 0) << n;
      got += static_cast<char>(b);
    }
    EXPECT_EQ(sys.reads, reads);
  }
  EXPECT_EQ(serial.Func062(0), 0);
  EXPECT_EQ(serial.Func041(0), -1);
  EXPECT_TRUE(got == held) << got.size();
}

TEST(Win32SerialSeam, ALostDeviceIsOpenedAgainWithItsSettings) {
  FakeSystem sys;
  Win32Serial serial(sys);
  ASSERT_EQ(serial.Func012(2, 1), 0);
  ASSERT_EQ(serial.Func001(2, 4800, 2, 7, 2), 0);
  sys.incoming = "ab";
  ASSERT_EQ(serial.Func062(2), 2);
  EXPECT_EQ(serial.Func041(2), 'a');

  // Pulled out: the status query fails; what was already read stays readable.
  sys.statusErrors = {ERROR_ACCESS_DENIED};
  EXPECT_EQ(serial.Func062(2), 1);
  EXPECT_EQ(sys.closes, 1);
  EXPECT_EQ(serial.Func041(2), 'b');
  EXPECT_EQ(serial.Func041(2), -1);
  EXPECT_EQ(serial.Func062(2), 0);
  EXPECT_EQ(sys.opened.size(), 1u) << "no new attempt within the interval";
  // Set-ups made while the device is gone are kept for its return.
  EXPECT_EQ(serial.Func001(2, 9600, 0, 8, 1), 0);

  // Back, but its driver refuses the settings at first: closed again, retried later.
  sys.clock += Win32Serial::kReopenInterval;
  sys.setUpErrors = {ERROR_GEN_FAILURE};
  EXPECT_EQ(serial.Func062(2), 0);
  EXPECT_EQ(sys.opened.size(), 2u);
  EXPECT_EQ(sys.closes, 2);
  EXPECT_EQ(serial.Func062(2), 0);
  EXPECT_EQ(sys.opened.size(), 2u);

  sys.clock += Win32Serial::kReopenInterval;
  sys.incoming = "c";
  EXPECT_EQ(serial.Func062(2), 1);
  EXPECT_EQ(serial.Func041(2), 'c');
  ASSERT_EQ(sys.opened.size(), 3u);
  EXPECT_EQ(sys.opened[2], L"\\\\.\\COM3");
  ASSERT_EQ(sys.setUps.size(), 2u);
  EXPECT_EQ(sys.setUps[1].BaudRate, 9600u);
  EXPECT_EQ(sys.setUps[1].ByteSize, 8);

  EXPECT_EQ(serial.Func084(2, 1), 0);
  EXPECT_EQ(sys.closes, 3);
}

// ---- under Wine, on pseudo-terminals ----

// The result of a claim of COMn made by another process.
int claimInOtherProcess(int n) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return runProgram(fs::path(self), {"--claim", std::to_string(n)}).status;
}

// The result of a set-up of COMn for 9600 bits per second, no parity, `dataBits`
// and 1 stop bit, made by another process.
int setUpInOtherProcess(int n, int dataBits) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return runProgram(fs::path(self), {"--set-up", std::to_string(n), std::to_string(dataBits)})
      .status;
}

// A line that ends at the next CR of `stream` after `from`, CR included.
std::string lineAt(const std::string& stream, std::size_t from) {
  const std::size_t start = stream.find('\r', from);
  const std::size_t end = stream.find('\r', start + 1);
  if (start == std::string::npos || end == std::string::npos) return {};
  return stream.substr(start + 1, end - start);
}

TEST(Win32SerialLine, ClaimIsExclusiveAndAMissingPortIsNotFound) {
  Win32Serial serial;
  ASSERT_EQ(serial.Func012(0, 4660), 0);
  EXPECT_EQ(serial.Func012(0, 4660), ERROR_ACCESS_DENIED);
  EXPECT_EQ(claimInOtherProcess(1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(serial.Func084(0, 4660), 0);
  EXPECT_EQ(claimInOtherProcess(1), 0);
  EXPECT_EQ(serial.Func012(0, 4660), 0);

  Win32Serial other;
  EXPECT_EQ(other.Func012(98, 1), ERROR_FILE_NOT_FOUND);
  // A failed claim holds nothing.
  EXPECT_EQ(claimInOtherProcess(99), ERROR_FILE_NOT_FOUND);
}

TEST(Win32SerialLine, ReadsLinesSetUpForSevenBitsOrEight) {
  for (const std::int32_t dataBits : {7, 8}) {
    SCOPED_TRACE(dataBits);
    Win32Serial serial;
    ASSERT_EQ(serial.Func012(0, 4660), 0);
    ASSERT_EQ(serial.Func001(0, 9600, 0, dataBits, 1), 0);
    const std::string got = drain(serial, 0, 30);
    EXPECT_EQ(lineAt(got, 0), "012.50\r") << got;
    EXPECT_EQ(lineAt(got, 8), "012.50\r") << got;
    EXPECT_EQ(serial.Func084(0, 4660), 0);
  }
}

TEST(Win32SerialLine, SetsUpTheSameLineAgainAtEveryStart) {
  // As the program does at each start, in new processes and in this one; the
  // line keeps what the earlier tests set up on it.
  for (const std::int32_t dataBits : {7, 7, 8, 8, 7})
    EXPECT_EQ(setUpInOtherProcess(1, dataBits), 0) << dataBits;
  for (int start = 0; start < 2; ++start) {
    Win32Serial serial;
    ASSERT_EQ(serial.Func012(0, 4660), 0);
    ASSERT_EQ(serial.Func001(0, 9600, 0, 7, 1), 0) << start;
    EXPECT_EQ(lineAt(drain(serial, 0, 30), 0), "012.50\r");
    EXPECT_EQ(serial.Func084(0, 4660), 0);
  }
}

TEST(Win32SerialLine, DrainsABurstRawAndInOrder) {
  const char* dir = std::getenv("QUORVEL_TEST_DIR");
  ASSERT_NE(dir, nullptr);
  std::string sent;
  for (int i = 0; i < 256 * 256; ++i) sent += static_cast<char>(i % 256);

  Win32Serial serial;
  ASSERT_EQ(serial.Func012(1, 1), 0);
  ASSERT_EQ(serial.Func001(1, 115200, 0, 8, 1), 0);
  std::ofstream(std::string("Z:") + dir + "/burst").put('1');
  std::this_thread::sleep_for(500ms);
  // One run of the capture step: one query, then as many bytes as it counted.
  // Wine hands a pseudo-terminal over a few kilobytes at a time; the count
  // covers much more than that.
  const std::int32_t waiting = serial.Func062(1);
  EXPECT_GT(waiting, 0x7FFF);
  std::string got;
  for (std::int32_t n = 0, b; n < waiting && (b = serial.Func041(1)) >= 0; ++n)
    got += static_cast<char>(b);
  EXPECT_EQ(got.size(), static_cast<std::size_t>(waiting));
  got += drain(serial, 1, sent.size() - got.size());
  EXPECT_TRUE(got == sent)
      << "got " << got.size() << " bytes, first difference at "
      << std::distance(got.begin(),
                       std::mismatch(got.begin(), got.end(), sent.begin(), sent.end()).first);
}

TEST(Win32SerialLine, ALineThatVanishesIsReadAgainWhenItComesBack) {
  const char* dir = std::getenv("QUORVEL_TEST_DIR");
  ASSERT_NE(dir, nullptr);
  Win32Serial serial;
  ASSERT_EQ(serial.Func012(2, 1), 0);
  ASSERT_EQ(serial.Func001(2, 9600, 0, 8, 1), 0);
  EXPECT_EQ(lineAt(drain(serial, 2, 30), 0), "001.00\r");

  std::ofstream(std::string("Z:") + dir + "/unplug").put('1');
  std::string after;
  EXPECT_TRUE(eventually([&] {
    if (resultCode(serial.Func062(2)) != 0)
      for (std::int32_t b; (b = serial.Func041(2)) >= 0;) after += static_cast<char>(b);
    return after.find("\r002.00\r") != std::string::npos;
  })) << after;
}

}  // namespace
}  // namespace quorvel::test

// `--claim N`: claims COMn and exits with the result, for the exclusivity test.
// `--set-up N BITS`: claims COMn, sets it up and exits with the first failure.
int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--claim") {
    quorvel::Win32Serial serial;
    return serial.Func012(std::atoi(argv[2]) - 1, 1);
  }
  if (argc == 4 && std::string(argv[1]) == "--set-up") {
    quorvel::Win32Serial serial;
    const int port = std::atoi(argv[2]) - 1;
    if (const int e = serial.Func012(port, 1)) return e;
    return serial.Func001(port, 9600, 0, std::atoi(argv[3]), 1);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
