// quorvel-load: many workstations on one shared hand-off file.
//
//   quorvel-load [--writers N] [--readers N] [--seconds S] [--naive-writers] FOLDER
//
// Starts N writer processes, each a workstation with its own computer name that
// runs the capture step twice a second on a scale whose weight rises by 0.1 at
// every tick, and reader processes that read the whole file again and again.
// A reader counts a read as torn or partial when a line does not parse, when a
// section is missing that was written before the read began (its writer had
// finished its first run, or an earlier read saw it), when a section appears
// twice, or when a weight is older than one already seen (a lost update). At the
// end every workstation's section must hold the last weight it wrote, and the
// folder must hold nothing but the hand-off file.
//
// --naive-writers replaces the capture step by an unlocked in-place rewrite, to
// show that the checks catch what they look for.
//
// Prints the figures and exits 0 when nothing was lost or torn, 1 otherwise,
// 2 for bad arguments.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/state/state.hpp"
#include "profile/ini.hpp"
#include "scale/capture_step.hpp"
#include "tests/support/fakes.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kTick = 500ms;

std::string workstation(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "ESTACAO%02d", i + 1);
  return name;
}

// The weight at tick k, as a TOL scale sends it: k + 1 tenths, in 6 characters.
std::string tolLine(int k) {
  const int tenths = k + 1;
  char line[32];
  std::snprintf(line, sizeof line, "%04d.%d", tenths / 10, tenths % 10);
  return line;
}

struct WriterResult {
  long runs = 0;
  long lastTenths = 0;
  long maxMicros = 0;
  long totalMicros = 0;
};

// The check's own control: a writer that rewrites the file in place without a
// lock, as a careless program would. Runs with it must report losses.
void naiveWrite(const fs::path& file, const std::string& name, const std::string& weight) {
  std::string bytes;
  if (std::FILE* in = std::fopen(file.c_str(), "rb")) {
    char buffer[8192];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, n);
    std::fclose(in);
  }
  const std::string header = "[Pesagem." + name + "]\r\n";
  const std::string entry = header + "Ativo=1\r\nPeso=" + weight + "\r\n";
  const auto at = bytes.find(header);
  if (at == std::string::npos) {
    bytes += entry;
  } else {
    const auto next = bytes.find("\r\n[", at + header.size());
    bytes.replace(at, next == std::string::npos ? bytes.npos : next + 2 - at, entry);
  }
  if (std::FILE* out = std::fopen(file.c_str(), "wb")) {
    const std::size_t half = bytes.size() / 2;
    std::fwrite(bytes.data(), 1, half, out);
    std::fflush(out);
    std::fwrite(bytes.data() + half, 1, bytes.size() - half, out);
    std::fclose(out);
  }
}

WriterResult runWriter(int index, int writers, const fs::path& folder, const fs::path& ready,
                       Clock::time_point start, Clock::time_point end, bool naive) {
  quorvel::CaptureState s;
  s.FLAG_ABERTA = 1;
  s.V_BALANCA = "TOL";
  s.V_NOME_CPD = workstation(index);
  s.V_PASTA = folder.string();
  quorvel::test::ScriptedSerial serial;
  quorvel::test::RecordingWindow window;

  WriterResult r;
  // Spread the workstations over the tick, as real timers would be.
  Clock::time_point next = start + kTick * index / writers;
  for (int k = 0; next < end; ++k, next += kTick) {
    std::this_thread::sleep_until(next);
    serial.feed(tolLine(k) + "\r");
    const auto t0 = Clock::now();
    if (naive) {
      naiveWrite(folder / "quorvel.txt", workstation(index),
                 quorvel::Decimal::parse(tolLine(k)).toShortestText());
    } else {
      quorvel::CAPTURA_PESO(s, serial, window);
    }
    const long us = static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count());
    r.maxMicros = std::max(r.maxMicros, us);
    r.totalMicros += us;
    ++r.runs;
    r.lastTenths = k + 1;
    if (k == 0) {
      const int fd = ::open((ready / workstation(index)).c_str(), O_CREAT | O_WRONLY, 0644);
      if (fd >= 0) ::close(fd);
    }
  }
  return r;
}

struct ReaderResult {
  long reads = 0;
  long badReads = 0;
  long missingSections = 0;
  long badLines = 0;
  long duplicates = 0;
  long staleValues = 0;
  long apiReads = 0;
  long apiBad = 0;
};

std::optional<std::string> readWhole(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0)
      bytes.append(buffer, static_cast<std::size_t>(n));
    else if (n == 0 || errno != EINTR)
      break;
  }
  ::close(fd);
  return bytes;
}

std::optional<long> tenthsOf(std::string_view text) {
  // Weights here are written as 12.3 or 12; both read as whole tenths.
  const auto dot = text.find('.');
  long whole = 0;
  long tenth = 0;
  const std::string_view w = text.substr(0, dot);
  if (w.empty() || std::from_chars(w.data(), w.data() + w.size(), whole).ptr != w.data() + w.size())
    return std::nullopt;
  if (dot != std::string_view::npos) {
    const std::string_view f = text.substr(dot + 1);
    if (f.size() != 1 || f[0] < '0' || f[0] > '9') return std::nullopt;
    tenth = f[0] - '0';
  }
  return whole * 10 + tenth;
}

ReaderResult runReader(int writers, const fs::path& file, const fs::path& ready,
                       Clock::time_point start, Clock::time_point end) {
  ReaderResult r;
  std::set<std::string> expected;        // sections written before the read began
  std::map<std::string, long> lastSeen;  // highest weight seen per section
  std::this_thread::sleep_until(start);
  unsigned pick = 0;
  while (Clock::now() < end) {
    if (static_cast<int>(expected.size()) < writers) {
      for (const auto& e : fs::directory_iterator(ready)) expected.insert(e.path().filename());
    }
    const std::map<std::string, long> before = lastSeen;
    const std::optional<std::string> bytes = readWhole(file);
    ++r.reads;
    bool bad = false;
    std::map<std::string, std::optional<long>> found;
    std::string section;
    if (bytes) {
      std::size_t pos = 0;
      while (pos < bytes->size()) {
        const auto eol = bytes->find("\r\n", pos);
        const std::string_view line(std::string_view(*bytes).substr(
            pos, eol == std::string::npos ? bytes->npos : eol - pos));
        pos = eol == std::string::npos ? bytes->size() : eol + 2;
        if (eol == std::string::npos) {  // every line this system writes ends with CR LF
          ++r.badLines;
          bad = true;
        }
        if (line.starts_with("[Pesagem.") && line.ends_with("]")) {
          section = line.substr(9, line.size() - 10);
          if (found.contains(section)) {
            ++r.duplicates;
            bad = true;
          }
          found[section];
        } else if (line == "Ativo=1" && !section.empty()) {
        } else if (line.starts_with("Peso=") && !section.empty()) {
          const std::optional<long> t = tenthsOf(line.substr(5));
          if (!t || *t <= 0) {
            ++r.badLines;
            bad = true;
          }
          found[section] = t;
        } else {
          ++r.badLines;
          bad = true;
        }
      }
    }
    for (const std::string& name : expected) {
      if (!found.contains(name)) {
        ++r.missingSections;
        bad = true;
      }
    }
    for (const auto& [name, value] : found) {
      const auto seen = before.find(name);
      if (seen != before.end() && (!value || *value < seen->second)) {
        ++r.staleValues;
        bad = true;
      }
      if (value) lastSeen[name] = std::max(lastSeen[name], *value);
      expected.insert(name);
    }
    if (bad) ++r.badReads;

    // Now and then through the profile reader too, as other software would.
    if (!found.empty() && ++pick % 8 == 0) {
      auto it = found.begin();
      std::advance(it, static_cast<long>(pick / 8 % found.size()));
      const std::string value =
          quorvel::readProfileString("Pesagem." + it->first, "Peso", "", file);
      const std::optional<long> t = tenthsOf(value);
      ++r.apiReads;
      if (!t || *t < lastSeen[it->first]) ++r.apiBad;
    }
    std::this_thread::sleep_for(2ms);
  }
  return r;
}

// Runs `body` in a child process that sends its result back through a pipe.
template <typename Result, typename Body>
std::pair<pid_t, int> spawn(Body body) {
  int fds[2];
  if (::pipe(fds) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (pid == 0) {
    ::close(fds[0]);
    const Result r = body();
    const bool sent = ::write(fds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    ::_exit(sent ? 0 : 1);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

template <typename Result>
std::optional<Result> collect(std::pair<pid_t, int> child) {
  Result r{};
  const bool got = ::read(child.second, &r, sizeof r) == static_cast<ssize_t>(sizeof r);
  ::close(child.second);
  int status = 0;
  ::waitpid(child.first, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return r;
}

int usage() {
  std::fprintf(
      stderr,
      "usage: quorvel-load [--writers N] [--readers N] [--seconds S] [--naive-writers] FOLDER\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int writers = 32;
  int readers = 4;
  int seconds = 60;
  bool naive = false;
  std::optional<fs::path> folderArg;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    int* target = a == "--writers"   ? &writers
                  : a == "--readers" ? &readers
                  : a == "--seconds" ? &seconds
                                     : nullptr;
    if (a == "--naive-writers") {
      naive = true;
    } else if (target) {
      if (i + 1 >= argc) return usage();
      const std::string_view v = argv[++i];
      if (std::from_chars(v.data(), v.data() + v.size(), *target).ptr != v.data() + v.size() ||
          *target < 0 || *target > 1000)
        return usage();
    } else if (!a.starts_with("--") && !folderArg) {
      folderArg = fs::path(a);
    } else {
      return usage();
    }
  }
  if (!folderArg || writers < 1 || seconds < 1) return usage();

  const fs::path folder = *folderArg;
  const fs::path file = folder / "quorvel.txt";
  const fs::path ready = folder.string() + ".prontas";
  std::error_code ec;
  fs::create_directories(folder, ec);
  fs::remove(file, ec);
  fs::remove_all(ready, ec);
  fs::create_directories(ready, ec);

  std::printf("load: %d workstations writing twice a second, %d readers, %d s, in %s\n", writers,
              readers, seconds, folder.c_str());
  std::fflush(stdout);
  const Clock::time_point start = Clock::now() + 500ms;
  const Clock::time_point end = start + std::chrono::seconds(seconds);

  std::vector<std::pair<pid_t, int>> writerProcs, readerProcs;
  for (int i = 0; i < writers; ++i) {
    writerProcs.push_back(spawn<WriterResult>(
        [&, i] { return runWriter(i, writers, folder, ready, start, end, naive); }));
  }
  for (int i = 0; i < readers; ++i) {
    readerProcs.push_back(
        spawn<ReaderResult>([&] { return runReader(writers, file, ready, start, end); }));
  }

  long runs = 0, maxMicros = 0, totalMicros = 0, lost = 0, failedProcs = 0;
  for (int i = 0; i < writers; ++i) {
    const auto r = collect<WriterResult>(writerProcs[static_cast<std::size_t>(i)]);
    if (!r) {
      ++failedProcs;
      continue;
    }
    runs += r->runs;
    maxMicros = std::max(maxMicros, r->maxMicros);
    totalMicros += r->totalMicros;
    const std::string held =
        quorvel::readProfileString("Pesagem." + workstation(i), "Peso", "", file);
    if (tenthsOf(held) != r->lastTenths) {
      ++lost;
      std::printf("  %s: holds \"%s\", last written %ld tenths\n", workstation(i).c_str(),
                  held.c_str(), r->lastTenths);
    }
  }
  ReaderResult total;
  for (auto& p : readerProcs) {
    const auto r = collect<ReaderResult>(p);
    if (!r) {
      ++failedProcs;
      continue;
    }
    total.reads += r->reads;
    total.badReads += r->badReads;
    total.missingSections += r->missingSections;
    total.badLines += r->badLines;
    total.duplicates += r->duplicates;
    total.staleValues += r->staleValues;
    total.apiReads += r->apiReads;
    total.apiBad += r->apiBad;
  }
  long leftovers = 0;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (e.path() != file) {
      ++leftovers;
      std::printf("  left in the folder: %s\n", e.path().filename().c_str());
    }
  }
  fs::remove_all(ready, ec);

  std::printf(
      "capture runs: %ld (%ld hand-off writes requested), run time mean %.2f ms, max %.2f ms\n",
      runs, 2 * runs,
      runs ? static_cast<double>(totalMicros) / static_cast<double>(runs) / 1000.0 : 0.0,
      static_cast<double>(maxMicros) / 1000.0);
  std::printf(
      "whole-file reads: %ld, torn or partial: %ld (missing sections %ld, lines that do not "
      "parse %ld, duplicate sections %ld, weights older than already seen %ld)\n",
      total.reads, total.badReads, total.missingSections, total.badLines, total.duplicates,
      total.staleValues);
  std::printf("profile reads: %ld, wrong: %ld\n", total.apiReads, total.apiBad);
  std::printf(
      "sections lost at the end: %ld of %d; files left in the folder: %ld; failed processes: %ld\n",
      lost, writers, leftovers, failedProcs);
  const bool ok = lost == 0 && total.badReads == 0 && total.apiBad == 0 && leftovers == 0 &&
                  failedProcs == 0 && runs > 0;
  std::printf("load: %s\n", ok ? "passed" : "FAILED");
  return ok ? 0 : 1;
}
