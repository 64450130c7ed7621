// A scale that sends faster than the capture can take it, on a real
// pseudo-terminal, with the whole procedure around the capture: the Qt window
// runtime on the offscreen platform, the termios serial layer and a real
// hand-off file. The window must keep answering and the hand-off file must
// follow the weight.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "capture/procedure.hpp"
#include "platform/serial_port.hpp"
#include "platform/window/qt_window.hpp"
#include "pty.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long msBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<milliseconds>(to - from).count();
}

// A TOL scale whose weight is its own clock in hundredths of a second, sent as
// fast as the line takes the lines. The weight read back from the hand-off
// file tells how old it is.
class FloodingScale {
 public:
  explicit FloodingScale(int master) : master_(master), thread_([this] { send(); }) {}
  ~FloodingScale() { stop(); }

  void stop() {
    stopped_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // The clock reading that a weight of `hundredths` stands for.
  Clock::time_point timeOf(long long hundredths) const {
    return start_ + milliseconds(hundredths * 10);
  }
  double megabytesPerSecond() const {
    return static_cast<double>(sent_) / 1e6 /
           std::chrono::duration<double>(Clock::now() - start_).count();
  }

 private:
  void send() {
    const int flags = ::fcntl(master_, F_GETFL);
    ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    std::string chunk;
    std::size_t at = 0;
    while (!stopped_) {
      if (at == chunk.size()) {
        const long long now = msBetween(start_, Clock::now()) / 10;
        char line[16];
        std::snprintf(line, sizeof line, "%06lld\r", now % 1'000'000);
        chunk.clear();
        for (int i = 0; i < 1024; ++i) chunk += line;
        at = 0;
      }
      const ssize_t n = ::write(master_, chunk.data() + at, chunk.size() - at);
      if (n > 0) {
        at += static_cast<std::size_t>(n);
        sent_ += n;
      } else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 50);
      }
    }
    ::fcntl(master_, F_SETFL, flags);
  }

  const int master_;
  const Clock::time_point start_ = Clock::now();
  std::atomic<bool> stopped_{false};
  std::atomic<long long> sent_{0};
  std::thread thread_;
};

// The Qt window factory, keeping the window it built for the test to post to.
class KeptWindows : public WindowFactory {
 public:
  std::unique_ptr<WindowRuntime> build(const WindowDefinition& definition,
                                       std::span<const FieldRef> fields) override {
    auto w = qt_.build(definition, fields);
    window = w.get();
    return w;
  }
  WindowRuntime* window = nullptr;

 private:
  QtWindowFactory qt_;
};

// The weight of the section "Pesagem.FLOOD" and the file's modification time.
struct HandOff {
  std::optional<long long> peso;
  std::filesystem::file_time_type written;
};

HandOff readHandOff(const std::filesystem::path& file) {
  std::error_code ec;
  HandOff h{std::nullopt, std::filesystem::last_write_time(file, ec)};
  const std::string bytes = readFile(file);
  const std::string key = "[Pesagem.FLOOD]\r\nAtivo=1\r\nPeso=";
  if (bytes.rfind(key, 0) != 0) return h;
  long long v = 0;
  const char* from = bytes.data() + key.size();
  if (std::from_chars(from, bytes.data() + bytes.size(), v).ec == std::errc()) h.peso = v;
  return h;
}

TEST(Flood, WindowAnswersAndHandOffFollowsTheWeight) {
  TempDir dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.path().string());
  std::filesystem::create_directories(dir / "quorvel");
  writeFile(dir / "quorvel" / "quorvel.ini",
            "[Configura\xE7\xE3o]\r\nPasta=" + dir.path().string() +
                "\r\nBalan\xE7"
                "a=TOL\r\nPorta=1\r\nVelocidade=115200\r\n");
  const std::filesystem::path handOff = dir / "quorvel.txt";

  Pty pty;
  // Raw from the start, so that nothing sent before the port is set up is echoed.
  const int held = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  termios raw{};
  ASSERT_EQ(::tcgetattr(held, &raw), 0);
  ::cfmakeraw(&raw);
  ASSERT_EQ(::tcsetattr(held, TCSANOW, &raw), 0);

  TermiosSerial serial([&](int) { return pty.path(); });
  KeptWindows windows;
  Services services{serial, windows, [](Text& name, std::uint32_t& size) {
                      name = "FLOOD";
                      size = 5;
                      return true;
                    }};
  FloodingScale scale(pty.master());

  // How long the event loop went without answering, once the capture runs.
  std::atomic<bool> capturing{false};
  long long longestSilenceMs = 0;
  Clock::time_point lastAnswer = Clock::now();
  QTimer heartbeat;
  heartbeat.setInterval(10);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    const Clock::time_point now = Clock::now();
    if (capturing) longestSilenceMs = std::max(longestSilenceMs, msBetween(lastAnswer, now));
    lastAnswer = now;
  });

  // The operator: watches the hand-off file for a while, then asks the window to close.
  std::atomic<bool> returned{false};
  Clock::time_point closeAsked;
  long long firstWriteMs = -1;
  long long mostBehindMs = -1;         // age of the weight found in the file
  long long mostBehindWrittenMs = -1;  // age of a weight when it was written
  int writes = 0;                      // seen after the first
  std::thread user([&] {
    const Clock::time_point start = Clock::now();
    const Clock::time_point watchUntil = start + std::chrono::seconds(5);
    std::filesystem::file_time_type lastWritten{};
    while (Clock::now() < watchUntil) {
      std::this_thread::sleep_for(milliseconds(20));
      const HandOff h = readHandOff(handOff);
      if (!h.peso) continue;
      const Clock::time_point now = Clock::now();
      if (firstWriteMs < 0) {
        firstWriteMs = msBetween(start, now);
        lastWritten = h.written;
        capturing = true;
        continue;  // the first weight may be older than the port
      }
      mostBehindMs = std::max(mostBehindMs, msBetween(scale.timeOf(*h.peso), now));
      if (h.written != lastWritten) {
        lastWritten = h.written;
        ++writes;
        // The file's clock against ours: both are the system's.
        const auto age = std::chrono::file_clock::now() - h.written;
        const auto written = now - std::chrono::duration_cast<Clock::duration>(age);
        mostBehindWrittenMs =
            std::max(mostBehindWrittenMs, msBetween(scale.timeOf(*h.peso), written));
      }
    }
    closeAsked = Clock::now();
    QMetaObject::invokeMethod(
        qApp, [&] { windows.window->post(event::CloseWindow); }, Qt::QueuedConnection);
    // Without an answer, the scale falls silent after a while so that the run ends.
    for (int i = 0; i < 300 && !returned; ++i) std::this_thread::sleep_for(milliseconds(10));
    scale.stop();
  });

  heartbeat.start();
  const bool ran = MAIN(services);
  const Clock::time_point closed = Clock::now();
  returned = true;
  user.join();
  ::close(held);

  std::cout << "flood: " << scale.megabytesPerSecond() << " MB/s sent; first hand-off after "
            << firstWriteMs << " ms; hand-off at most " << mostBehindMs << " ms behind ("
            << mostBehindWrittenMs << " ms when written, " << writes
            << " writes seen); event loop silent for at most " << longestSilenceMs
            << " ms; close answered after " << msBetween(closeAsked, closed) << " ms\n";
  ASSERT_TRUE(ran);
  EXPECT_LT(longestSilenceMs, 500) << "the event loop stopped answering during the flood";
  EXPECT_LT(msBetween(closeAsked, closed), 500);
  ASSERT_GE(firstWriteMs, 0) << "the hand-off file was never written";
  // Every tick (0.5 s) writes a newer weight, at most a tick older than the
  // write; the rest is room for a loaded machine.
  EXPECT_GE(writes, 4);
  EXPECT_LT(mostBehindWrittenMs, 1000);
  EXPECT_LT(mostBehindMs, 2000);
}

}  // namespace
}  // namespace quorvel::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
