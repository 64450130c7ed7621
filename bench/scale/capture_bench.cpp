// One capture run whose positive weight has not changed, against one read of the
// same hand-off file: the run must not rewrite the file and should cost little
// more than that read.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <stdexcept>

#include "profile/ini.hpp"
#include "scale/capture_step.hpp"
#include "tests/support/fakes.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

class NullWindow : public test::RecordingWindow {
 public:
  using RecordingWindow::display;
  void display() override {}
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

timespec modified(const std::string& file) {
  struct stat st {};
  ::stat(file.c_str(), &st);
  return st.st_mtim;
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
  const timespec before = modified(h.file);
  for (auto _ : state) CAPTURA_PESO(s, serial, window);
  const timespec after = modified(h.file);
  if (before.tv_sec != after.tv_sec || before.tv_nsec != after.tv_nsec)
    state.SkipWithError("the hand-off file was rewritten");
}

void BM_ReadOneValue(benchmark::State& state) {
  HandOff h(static_cast<int>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(LER_INI("Pesagem.WS0000", "Peso", "0", h.file));
}

BENCHMARK(BM_CaptureRunUnchangedWeight)->Arg(1)->Arg(32)->Arg(1000);
BENCHMARK(BM_ReadOneValue)->Arg(1)->Arg(32)->Arg(1000);

}  // namespace
}  // namespace quorvel
