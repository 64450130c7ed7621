// One value changed in hand-off files of 1, 100 and 1000 workstation sections:
// profile access against the floor (read the file, write the same bytes to a
// temporary file, flush it to the disk and rename it over the old one, as a
// write that survives a power cut must); qsettings_bench.cpp adds QSettings on
// Linux. BM_FloorWithoutFlush shows what the flush alone costs.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/profile/fixture.hpp"
#include "bench/profile/floor.hpp"
#include "profile/ini.hpp"

namespace quorvel::bench {
namespace {

void BM_Write(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)));
  std::int64_t i = 0;
  for (auto _ : state) {
    if (quorvel::writeProfileString("Pesagem.WS0001", "Peso", value(++i), f.file) !=
        quorvel::WriteResult::Written)
      state.SkipWithError("write failed");
  }
}

void floor(benchmark::State& state, bool flush) {
  Fixture f(static_cast<int>(state.range(0)));
  const std::filesystem::path tmp = f.dir / ".quorvel.txt.tmp";
  std::string buffer(1 << 20, '\0');
  for (auto _ : state) {
    if (!rewriteThroughTemporary(f.file, tmp, buffer, flush))
      state.SkipWithError("floor I/O failed");
  }
}

void BM_Floor(benchmark::State& state) {
  floor(state, true);
}

void BM_FloorWithoutFlush(benchmark::State& state) {
  floor(state, false);
}

void BM_Read(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(quorvel::readProfileString("Pesagem.WS1000", "Peso", "0", f.file));
}

void BM_LerIni(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)));
  const std::string name = windowsName(f.file);
  for (auto _ : state)
    benchmark::DoNotOptimize(quorvel::LER_INI("Pesagem.WS1000", "Peso", "0", name));
}

}  // namespace

BENCHMARK(BM_Write)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(BM_Floor)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(BM_FloorWithoutFlush)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(BM_Read)->Arg(1000);
BENCHMARK(BM_LerIni)->Arg(1000);

}  // namespace quorvel::bench
