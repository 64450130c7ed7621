// The simulator's lines, alone and end to end: simulator -> pseudo-terminal ->
// serial layer -> capture step -> hand-off file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/serial_port.hpp"
#include "pty.hpp"
#include "scale/capture_step.hpp"
#include "tests/support/fakes.hpp"
#include "tests/support/temp_dir.hpp"
#include "tools/quorvel-sim/line_format.hpp"

extern char** environ;

namespace quorvel::test {
namespace {

namespace fs = std::filesystem;
using sim::Brand;
using sim::formatLine;
using sim::LineFormat;

Decimal weight(std::string_view text) {
  return sim::parseWeight(text).value();
}

TEST(SimulatorLine, FollowsTheFormatOfEachBrand) {
  struct Case {
    LineFormat format;
    const char* weight;
    std::string line;
  };
  const Case cases[] = {
      {{Brand::Precision, 10}, "123.4", "+001234\r"},
      {{Brand::Precision, 1}, "1500", "+001500\r"},
      {{Brand::Precision, 10}, "12.35", "+000124\r"},  // half away from zero
      {{Brand::Precision, 100}, "0.004", "+000000\r"},
      {{Brand::Precision, 10}, "-1.5", "-000015\r"},
      {{Brand::Precision, 10}, "100000", "+999999\r"},
      {{Brand::Precision, 1000}, "999999999999", "+999999\r"},
      {{Brand::Precision, 0}, "12", "+000000\r"},
      {{Brand::DIG}, "12.5", "+0012.50\r"},
      {{Brand::DIG}, "1500", "+1500.00\r"},
      {{Brand::DIG}, "12345", "+0012345\r"},
      {{Brand::DIG}, "99999999", "+9999999\r"},
      {{Brand::FIL}, "0", "+0000.00\r"},
      {{Brand::FIL}, "0.005", "+0000.01\r"},
      {{Brand::FIL}, "-7.25", "-0007.25\r"},
      {{Brand::TOL}, "12.5", "012.50\r"},
      {{Brand::TOL}, "1500", "001500\r"},
      {{Brand::TOL}, "999.994", "999.99\r"},
      {{Brand::TOL}, "999.995", "001000\r"},
      {{Brand::TOL}, "1234567", "999999\r"},
      {{Brand::TOL}, "-12.5", "-12.50\r"},
      {{Brand::TOL, 10, true, true},
       "12.5",
       "\x02"
       "012.50\r\n"},
      {{Brand::DIG, 10, true, false}, "1", "+0001.00\r\n"},
      {{Brand::Precision, 10, false, true}, "1", "\x02+000010\r"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(formatLine(c.format, weight(c.weight)), c.line)
        << static_cast<int>(c.format.brand) << " " << c.weight;
}

TEST(SimulatorLine, ReadsWeightsTheSameInEveryLocale) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> thousandths;
  };
  const Case cases[] = {
      {"12.5", 12500},
      {"12,5", 12500},
      {"-3", -3000},
      {"+.5", 500},
      {"1.", 1000},
      {"0.0004", 0},
      {"999999999999", 999'999'999'999'000},
      {"9999999999999", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"abc", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1 2", std::nullopt},
      {"1e3", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto w = sim::parseWeight(c.text);
    EXPECT_EQ(w.has_value(), c.thousandths.has_value()) << c.text;
    if (w && c.thousandths) {
      EXPECT_EQ(w->thousandths(), *c.thousandths) << c.text;
    }
  }
  EXPECT_EQ(sim::brandNamed("TOL"), Brand::TOL);
  EXPECT_EQ(sim::brandNamed("tol"), std::nullopt);
}

// A running quorvel-sim; its first output line is the path of its line.
class Simulator {
 public:
  explicit Simulator(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> all{QUORVEL_SIM};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Numbers must not follow the locale.
    std::vector<std::string> env{"LC_ALL=pt_BR.UTF-8"};
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, QUORVEL_SIM, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) throw std::runtime_error("cannot start quorvel-sim");
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (::poll(&p, 1, 10'000) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
    ::close(out[0]);
  }
  ~Simulator() { stop(); }
  const std::string& path() const { return path_; }
  // Stops it as Ctrl+C would; its exit code.
  int stop() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGINT);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

 private:
  pid_t pid_ = 0;
  int status_ = -1;
  std::string path_;
};

std::string repeated(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

TEST(SimulatorEndToEnd, EachBrandReachesTheHandOffFile) {
  struct Case {
    const char* brand;
    std::vector<std::string> options;
    std::int32_t dataBits;
    std::string line;
    const char* peso;
  };
  const Case cases[] = {
      {"Precision", {"--weight", "123,4", "--link"}, 7, "+001234\r", "123.4"},
      {"DIG", {"--weight", "1500", "--stx", "--crlf"}, 8, "\x02+1500.00\r\n", "1500"},
      {"FIL", {"--weight", "0.25", "--split"}, 8, "+0000.25\r", "0.25"},
      {"TOL", {"--weight", "12.5"}, 8, "012.50\r", "12.5"},
      // Bytes between lines and overlong lines do not disturb the capture.
      {"TOL", {"--weight", "7.5", "--garbage", "--overlong", "--seed", "3"}, 8, "", "7.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.brand);
    TempDir dir;
    std::vector<std::string> args{"--brand", c.brand, "--interval", "20"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const bool linked = c.options.back() == "--link";
    if (linked) args.push_back((dir / "scale").string());
    Simulator sim(args);
    ASSERT_FALSE(sim.path().empty());
    const std::string device = linked ? (dir / "scale").string() : sim.path();

    TermiosSerial serial([&](int) { return device; });
    ASSERT_EQ(serial.Func012(0, RecordingWindow::kHandle), 0);
    if (c.dataBits == 8) serial.Func001(0, 2400, 0, 8, 1);
    ASSERT_EQ(serial.Func001(0, 9600, 0, c.dataBits, 1), 0);
    if (!c.line.empty()) {
      EXPECT_EQ(drain(serial, 0, 3 * c.line.size()).substr(0, 3 * c.line.size()),
                repeated(c.line, 3));
    }

    CaptureState s;
    s.COMPORT = 0;
    s.FLAG_ABERTA = 1;
    s.V_BALANCA = c.brand;
    s.V_PASTA = dir.path().string();
    s.V_NOME_CPD = "BALANCA1";
    RecordingWindow window;
    // Long enough for an overlong line (before every tenth) to pass through.
    int runs = 0;
    ASSERT_TRUE(eventually([&] {
      CAPTURA_PESO(s, serial, window);
      return ++runs >= 150 && s.V_PESO > Decimal();
    }));
    EXPECT_EQ(s.V_PESO, weight(c.peso));
    EXPECT_EQ(readFile(dir / "quorvel.txt"),
              std::string("[Pesagem.BALANCA1]\r\nAtivo=1\r\nPeso=") + c.peso + "\r\n");

    EXPECT_EQ(sim.stop(), 0);
    if (linked) {
      EXPECT_FALSE(fs::is_symlink(dir / "scale"));
    }
  }
}

TEST(SimulatorEndToEnd, CountedLinesWaitForTheirReader) {
  Simulator sim({"--brand", "TOL", "--ramp", "1:2:0.5", "--count", "4", "--interval", "1"});
  ASSERT_FALSE(sim.path().empty());
  TermiosSerial serial([&](int) { return sim.path(); });
  ASSERT_EQ(serial.Func012(0, 0), 0);
  ASSERT_EQ(serial.Func001(0, 9600, 0, 8, 1), 0);
  EXPECT_EQ(drain(serial, 0, 28), "001.00\r001.50\r002.00\r001.00\r");
  EXPECT_EQ(sim.stop(), 0);
}

TEST(SimulatorEndToEnd, ReplaysARecordingAsItIs) {
  TempDir dir;
  const std::string recording("\x02+001234\r\n\xff\x00junk\r+000007", 25);
  writeFile(dir / "scale.bin", recording);
  Simulator sim({"--replay", (dir / "scale.bin").string(), "--interval", "1"});
  ASSERT_FALSE(sim.path().empty());
  TermiosSerial serial([&](int) { return sim.path(); });
  ASSERT_EQ(serial.Func012(0, 0), 0);
  ASSERT_EQ(serial.Func001(0, 9600, 0, 8, 1), 0);
  EXPECT_EQ(drain(serial, 0, recording.size()), recording);
  EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
}  // namespace quorvel::test
