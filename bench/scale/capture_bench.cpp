// One capture run whose positive weight has not changed, against one read of the
// same hand-off file: the run must not rewrite the file and should cost little
// more than that read. And one run against a backlog of lines that a flooding
// scale left waiting: its cost must grow with the bytes alone, with one
// redisplay and one hand-off write whatever the number of lines.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "profile/ini.hpp"
#include "scale/capture_step.hpp"
#include "tests/support/fakes.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

class NullWindow : public test::RecordingWindow {
 public:
  using RecordingWindow::display;
  void display() override { ++displays; }
};

// A serial library with `backlog` waiting again at the start of every run.
class Backlog : public SerialLibrary {
 public:
  explicit Backlog(std::size_t bytes) {
    int weight = 0;
    while (bytes_.size() + 7 <= bytes) {
      char line[8];
      std::snprintf(line, sizeof line, "%06d\r", ++weight % 1'000'000);
      bytes_ += line;
    }
  }
  std::int32_t Func012(std::int32_t, std::int32_t) override { return 0; }
  std::int32_t Func001(std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                       std::int32_t) override {
    return 0;
  }
  std::int32_t Func084(std::int32_t, std::int32_t) override { return 0; }
  std::int32_t Func062(std::int32_t) override {
    at_ = 0;
    return static_cast<std::int32_t>(bytes_.size());
  }
  std::int32_t Func041(std::int32_t) override {
    if (at_ == bytes_.size()) return -1;
    return static_cast<unsigned char>(bytes_[at_++]);
  }
  std::size_t size() const { return bytes_.size(); }
  std::string_view lastLine() const {
    return std::string_view(bytes_).substr(bytes_.size() - 7, 6);
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

// A shared hand-off file of `workstations` sections; ours (WS0000) holds 12.5.
struct HandOff {
  test::TempDir dir;
  std::string file;
  explicit HandOff(int workstations) {
    std::string bytes;
    for (int i = 0; i < workstations; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "WS%04d", i);
      bytes += "[Pesagem." + std::string(name) + "]\r\nAtivo=1\r\nPeso=12.5\r\n";
    }
    test::writeFile(dir / "quorvel.txt", bytes);
    file = (dir.path() / "quorvel.txt").string();
  }
};

std::filesystem::file_time_type modified(const std::string& file) {
  std::error_code ec;
  return std::filesystem::last_write_time(file, ec);
}

void BM_CaptureRunUnchangedWeight(benchmark::State& state) {
  HandOff h(static_cast<int>(state.range(0)));
  CaptureState s;
  s.FLAG_ABERTA = 1;
  s.V_BALANCA = "TOL";
  s.V_NOME_CPD = "WS0000";
  s.V_PASTA = h.dir.path().string();
  s.V_BUFFER = "012.50";
  test::ScriptedSerial serial;
  NullWindow window;
  const auto before = modified(h.file);
  for (auto _ : state) CAPTURA_PESO(s, serial, window);
  if (modified(h.file) != before) state.SkipWithError("the hand-off file was rewritten");
}

void BM_CaptureRunBacklog(benchmark::State& state) {
  test::TempDir dir;
  CaptureState s;
  s.FLAG_ABERTA = 1;
  s.V_BALANCA = "TOL";
  s.V_NOME_CPD = "WS0000";
  s.V_PASTA = dir.path().string();
  Backlog serial(static_cast<std::size_t>(state.range(0)));
  NullWindow window;
  for (auto _ : state) CAPTURA_PESO(s, serial, window);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(serial.size()));
  state.counters["redisplays/run"] =
      static_cast<double>(window.displays) / static_cast<double>(state.iterations());
  if (s.V_BUFFER.view() != serial.lastLine()) state.SkipWithError("the last line was not taken");
}

void BM_ReadOneValue(benchmark::State& state) {
  HandOff h(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(LER_INI("Pesagem.WS0000", "Peso", "0", h.file));
}

BENCHMARK(BM_CaptureRunUnchangedWeight)->Arg(1)->Arg(32)->Arg(1000);
BENCHMARK(BM_CaptureRunBacklog)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOneValue)->Arg(1)->Arg(32)->Arg(1000);

}  // namespace
}  // namespace quorvel
