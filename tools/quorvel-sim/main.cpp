// quorvel-sim: a scale on a pseudo-terminal (or a given device) that sends
// weight lines in a brand's format until it is stopped.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tools/quorvel-sim/line_format.hpp"

namespace {

using quorvel::Decimal;
using namespace quorvel::sim;

constexpr std::string_view kHelp = R"(Usage: quorvel-sim --brand BRAND [options]

Plays a scale on a serial line. Without --device it opens a pseudo-terminal,
prints the path of its terminal side on the first line of standard output (the
device to configure, for example COM1=/dev/pts/3 in the section [Portas] of
quorvel.ini) and sends a line every interval until it is stopped (Ctrl+C).

Line formats (each line ends with CR):
  Precision  7 characters: status '+' and the raw reading, weight x divisor, in
             6 digits ("+001234" for 123.4 with divisor 10)
  DIG, FIL   8 characters: status '+' and the weight in 7 ("+0012.50")
  TOL        6 characters: the weight alone ("012.50", "001500")
  A weight that does not fit its field is sent as the field's largest value.

Options:
  --brand BRAND         Precision, DIG, FIL or TOL (required)
  --weight W            fixed weight (default 0); '.' or ',' as decimal mark
  --ramp FROM:TO:STEP   weights from FROM to TO by STEP, then over again
  --noise A             add a random amount between -A and A to every weight
  --divisor N           divisor of the Precision reading (default 10)
  --replay FILE         send the bytes of FILE as they are, one line (up to
                        each CR) per interval; --loop starts it over at its end
  --interval MS         milliseconds between lines (default 200)
  --count N             send N lines, then exit (default: until stopped); on a
                        pseudo-terminal it waits up to 5 s for them to be read
  --crlf                end lines with CR LF
  --stx                 begin lines with STX (0x02), as many scales do
  --garbage             put random bytes that belong to no line between lines
  --overlong            send a 300-character line before every tenth line
  --split               write every line in pieces with short pauses
  --seed N              seed of the random noise and garbage
  --device PATH         write to this device or file instead of a pseudo-terminal
  --link PATH           make PATH a symbolic link to the line (replacing an
                        earlier link); it is removed on exit
  --help                show this text

Example:
  quorvel-sim --brand TOL --weight 12.5
)";

volatile sig_atomic_t stopRequested = 0;

void onStop(int) {
  stopRequested = 1;
}

struct Options {
  std::optional<Brand> brand;
  LineFormat format;
  Decimal weight;
  std::optional<Decimal> rampFrom, rampTo, rampStep;
  Decimal noise;
  std::string replay;
  bool loop = false;
  long intervalMs = 200;
  long long count = 0;
  bool garbage = false;
  bool overlong = false;
  bool split = false;
  std::optional<unsigned> seed;
  std::string device;
  std::string link;
};

int usage(const std::string& problem) {
  std::cerr << "quorvel-sim: " << problem << "\nTry 'quorvel-sim --help'.\n";
  return 2;
}

template <typename T>
std::optional<T> wholeNumber(std::string_view s) {
  T v{};
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

// Returns an exit code when the program is to end at once.
std::optional<int> parse(int argc, char** argv, Options& o) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      std::cout << kHelp;
      return 0;
    }
    if (a == "--crlf") {
      o.format.crlf = true;
    } else if (a == "--stx") {
      o.format.stx = true;
    } else if (a == "--garbage") {
      o.garbage = true;
    } else if (a == "--overlong") {
      o.overlong = true;
    } else if (a == "--split") {
      o.split = true;
    } else if (a == "--loop") {
      o.loop = true;
    } else if (a == "--brand" || a == "--weight" || a == "--ramp" || a == "--noise" ||
               a == "--divisor" || a == "--replay" || a == "--interval" || a == "--count" ||
               a == "--seed" || a == "--device" || a == "--link") {
      const auto v = value();
      if (!v) return usage(std::string(a) + " needs a value");
      const std::string_view s = *v;
      const std::string bad = "bad value for " + std::string(a) + ": '" + std::string(s) + "'";
      if (a == "--brand") {
        o.brand = brandNamed(s);
        if (!o.brand) return usage("unknown brand '" + std::string(s) + "'");
      } else if (a == "--weight") {
        const auto w = parseWeight(s);
        if (!w) return usage(bad);
        o.weight = *w;
      } else if (a == "--ramp") {
        const auto c1 = s.find(':');
        const auto c2 = c1 == s.npos ? s.npos : s.find(':', c1 + 1);
        if (c2 == s.npos) return usage(bad);
        o.rampFrom = parseWeight(s.substr(0, c1));
        o.rampTo = parseWeight(s.substr(c1 + 1, c2 - c1 - 1));
        o.rampStep = parseWeight(s.substr(c2 + 1));
        if (!o.rampFrom || !o.rampTo || !o.rampStep || o.rampStep->thousandths() == 0)
          return usage(bad);
      } else if (a == "--noise") {
        const auto w = parseWeight(s);
        if (!w || w->thousandths() < 0) return usage(bad);
        o.noise = *w;
      } else if (a == "--divisor") {
        const auto d = wholeNumber<std::int32_t>(s);
        if (!d || *d < 1) return usage(bad);
        o.format.divisor = *d;
      } else if (a == "--replay") {
        o.replay = s;
      } else if (a == "--interval") {
        const auto ms = wholeNumber<long>(s);
        if (!ms || *ms < 1 || *ms > 3'600'000) return usage(bad);
        o.intervalMs = *ms;
      } else if (a == "--count") {
        const auto n = wholeNumber<long long>(s);
        if (!n || *n < 1) return usage(bad);
        o.count = *n;
      } else if (a == "--seed") {
        const auto n = wholeNumber<unsigned>(s);
        if (!n) return usage(bad);
        o.seed = *n;
      } else if (a == "--device") {
        o.device = s;
      } else {
        o.link = s;
      }
    } else {
      return usage("unknown option '" + std::string(a) + "'");
    }
  }
  if (!o.brand && o.replay.empty()) return usage("--brand is required");
  if (o.brand) o.format.brand = *o.brand;
  return std::nullopt;
}

void makeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(fd, TCSANOW, &t);
}

// Writes everything unless the line stays full for a while: a line nobody
// reads loses bytes, as a real one would.
void send(int fd, std::string_view bytes) {
  while (!bytes.empty() && !stopRequested) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 100) <= 0) {
      if (errno == EINTR) continue;
      return;
    }
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void pause(std::chrono::nanoseconds d) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(d.count() / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(d.count() % 1'000'000'000);
  ::nanosleep(&ts, nullptr);
}

void sleepUntil(std::chrono::steady_clock::time_point t) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch());
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns.count() / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(ns.count() % 1'000'000'000);
  // steady_clock is CLOCK_MONOTONIC with libstdc++; a signal ends the wait.
  ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
}

std::vector<std::string> replayChunks(const std::string& bytes) {
  std::vector<std::string> chunks;
  std::string current;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    current += bytes[i];
    if (bytes[i] == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') current += bytes[++i];
      chunks.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) chunks.push_back(std::move(current));
  return chunks;
}

class Weights {
 public:
  Weights(const Options& o, std::mt19937& random) : o_(o), random_(random) {
    if (o.rampFrom) ramp_ = o.rampFrom->thousandths();
  }
  Decimal next() {
    std::int64_t w = o_.weight.thousandths();
    if (o_.rampFrom) {
      w = ramp_;
      const std::int64_t from = o_.rampFrom->thousandths();
      const std::int64_t to = o_.rampTo->thousandths();
      const std::int64_t step = std::llabs(o_.rampStep->thousandths());
      ramp_ += to >= from ? step : -step;
      if (to >= from ? ramp_ > to : ramp_ < to) ramp_ = from;
    }
    if (o_.noise.thousandths() > 0) {
      std::uniform_int_distribution<std::int64_t> d(-o_.noise.thousandths(),
                                                    o_.noise.thousandths());
      w += d(random_);
    }
    if (w > Decimal::kMaxThousandths) w = Decimal::kMaxThousandths;
    if (w < -Decimal::kMaxThousandths) w = -Decimal::kMaxThousandths;
    return Decimal::fromThousandths(w);
  }

 private:
  const Options& o_;
  std::mt19937& random_;
  std::int64_t ramp_ = 0;
};

std::string garbage(std::mt19937& random) {
  std::uniform_int_distribution<int> count(1, 8);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string out;
  for (int n = count(random); n > 0;) {
    const int b = byte(random);
    if (b == '\r' || (b >= 32 && b <= 126)) continue;
    out += static_cast<char>(b);
    --n;
  }
  return out;
}

std::string overlongLine(const LineFormat& f) {
  std::string line;
  for (int i = 0; i < 300; ++i) line += static_cast<char>('0' + i % 10);
  return line + (f.crlf ? "\r\n" : "\r");
}

int run(const Options& o) {
  std::string replay;
  if (!o.replay.empty()) {
    std::ifstream in(o.replay, std::ios::binary);
    if (!in) {
      std::cerr << "quorvel-sim: cannot read " << o.replay << ": " << std::strerror(errno) << "\n";
      return 1;
    }
    replay.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::vector<std::string> chunks = replayChunks(replay);
  if (!o.replay.empty() && chunks.empty()) {
    std::cerr << "quorvel-sim: " << o.replay << " is empty\n";
    return 1;
  }

  int out = -1;
  int terminal = -1;  // our own descriptor of the terminal side, kept in raw mode
  std::string path;
  if (o.device.empty()) {
    out = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (out < 0 || ::grantpt(out) != 0 || ::unlockpt(out) != 0) {
      std::cerr << "quorvel-sim: no pseudo-terminal: " << std::strerror(errno) << "\n";
      return 1;
    }
    const char* name = ::ptsname(out);
    if (!name) return 1;
    path = name;
    // Holding the terminal side open keeps it raw for whoever opens it next,
    // and keeps the lines waiting for a reader that comes late.
    terminal = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal >= 0) makeRaw(terminal);
  } else {
    path = o.device;
    out = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_CREAT | O_APPEND, 0644);
    if (out < 0) {
      std::cerr << "quorvel-sim: cannot open " << path << ": " << std::strerror(errno) << "\n";
      return 1;
    }
    if (::isatty(out)) makeRaw(out);
  }

  if (!o.link.empty()) {
    struct stat st {};
    if (::lstat(o.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(o.link.c_str());
    if (::symlink(path.c_str(), o.link.c_str()) != 0) {
      std::cerr << "quorvel-sim: cannot link " << o.link << ": " << std::strerror(errno) << "\n";
      return 1;
    }
  }
  std::cout << path << std::endl;

  std::mt19937 random(o.seed ? *o.seed : std::random_device{}());
  Weights weights(o, random);
  const auto interval = std::chrono::milliseconds(o.intervalMs);
  const auto piecePause = std::clamp<std::chrono::nanoseconds>(
      interval / 8, std::chrono::milliseconds(1), std::chrono::milliseconds(20));
  auto next = std::chrono::steady_clock::now();
  std::size_t chunk = 0;
  bool finished = false;
  for (long long sent = 0; !stopRequested && (o.count == 0 || sent < o.count); ++sent) {
    std::string bytes;
    if (o.garbage) bytes += garbage(random);
    if (o.overlong && sent % 10 == 9) bytes += overlongLine(o.format);
    if (!chunks.empty()) {
      if (chunk == chunks.size()) {
        if (!o.loop) break;
        chunk = 0;
      }
      bytes += chunks[chunk++];
    } else {
      bytes += formatLine(o.format, weights.next());
    }
    if (o.split) {
      const std::size_t piece = std::max<std::size_t>(1, bytes.size() / 3);
      for (std::size_t at = 0; at < bytes.size() && !stopRequested; at += piece) {
        if (at > 0) pause(piecePause);
        send(out, std::string_view(bytes).substr(at, piece));
      }
    } else {
      send(out, bytes);
    }
    if (o.count != 0 && sent + 1 == o.count) break;
    next += interval;
    sleepUntil(next);
  }
  finished = !stopRequested;

  // Closing the pseudo-terminal hangs up its reader and discards what it has
  // not read yet; give the reader time to take the last lines. The kernel
  // counts bytes as waiting only once it has moved them into the line
  // discipline, so "nothing waits" must hold twice, a moment apart.
  if (finished && terminal >= 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int quiet = 0;
    while (!stopRequested && quiet < 2 && std::chrono::steady_clock::now() < deadline) {
      pause(std::chrono::milliseconds(50));
      int waiting = 0;
      if (::ioctl(terminal, FIONREAD, &waiting) != 0) break;
      quiet = waiting == 0 ? quiet + 1 : 0;
    }
  }

  if (!o.link.empty()) {
    std::vector<char> target(path.size() + 2);
    const ssize_t n = ::readlink(o.link.c_str(), target.data(), target.size());
    if (n >= 0 && std::string_view(target.data(), static_cast<std::size_t>(n)) == path)
      ::unlink(o.link.c_str());
  }
  if (terminal >= 0) ::close(terminal);
  ::close(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction sa {};
  sa.sa_handler = onStop;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  Options o;
  if (const auto code = parse(argc, argv, o)) return *code;
  return run(o);
}
