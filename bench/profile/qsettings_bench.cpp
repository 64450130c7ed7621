// The same write through QSettings in INI format, for comparison on Linux.
#include <benchmark/benchmark.h>

#include <QSettings>
#include <QString>

#include "bench/profile/fixture.hpp"

namespace quorvel::bench {
namespace {

void BM_QSettings(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)));
  QSettings settings(QString::fromStdString(f.file.string()), QSettings::IniFormat);
  std::int64_t i = 0;
  for (auto _ : state) {
    settings.setValue(QStringLiteral("Pesagem.WS0001/Peso"), QString::fromLatin1(value(++i)));
    settings.sync();
    if (settings.status() != QSettings::NoError) state.SkipWithError("QSettings failed");
  }
}

}  // namespace

BENCHMARK(BM_QSettings)->Arg(1)->Arg(100)->Arg(1000);

}  // namespace quorvel::bench
