// One value changed in hand-off files of 1, 100 and 1000 workstation sections:
// profile access against the floor (read the file, write the same bytes to a
// temporary file, flush it to the disk and rename it over the old one, as a
// write that survives a power cut must) and against QSettings in INI format.
// BM_FloorWithoutFlush shows what the flush alone costs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QSettings>
#include <QString>
#include <cstdio>
#include <string>

#include "profile/ini.hpp"
#include "tests/support/temp_dir.hpp"

namespace {

std::string handOff(int sections) {
  std::string s;
  char header[32];
  for (int i = 1; i <= sections; ++i) {
    std::snprintf(header, sizeof header, "[Pesagem.WS%04d]\r\n", i);
    s += header;
    s += "Ativo=1\r\nPeso=123.4\r\n";
  }
  return s;
}

struct Fixture {
  explicit Fixture(int sections) {
    file = dir / "quorvel.txt";
    quorvel::test::writeFile(file, handOff(sections));
  }
  quorvel::test::TempDir dir;
  std::filesystem::path file;
};

const char* value(std::int64_t i) {
  return (i & 1) != 0 ? "123.5" : "123.4";
}

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
  const std::string tmp = (f.dir / ".quorvel.txt.tmp").string();
  std::string buffer(1 << 20, '\0');
  for (auto _ : state) {
    const int in = ::open(f.file.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    ::close(in);
    const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (n < 0 || ::write(out, buffer.data(), static_cast<std::size_t>(n)) != n ||
        (flush && ::fdatasync(out) != 0))
      state.SkipWithError("floor I/O failed");
    ::close(out);
    ::rename(tmp.c_str(), f.file.c_str());
  }
}

void BM_Floor(benchmark::State& state) {
  floor(state, true);
}

void BM_FloorWithoutFlush(benchmark::State& state) {
  floor(state, false);
}

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

void BM_Read(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(quorvel::readProfileString("Pesagem.WS1000", "Peso", "0", f.file));
}

void BM_LerIni(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)));
  std::string name = "C:" + f.file.string();
  for (char& c : name)
    if (c == '/') c = '\\';
  for (auto _ : state)
    benchmark::DoNotOptimize(quorvel::LER_INI("Pesagem.WS1000", "Peso", "0", name));
}

}  // namespace

BENCHMARK(BM_Write)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(BM_Floor)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(BM_FloorWithoutFlush)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(BM_QSettings)->Arg(1)->Arg(100)->Arg(1000);
BENCHMARK(BM_Read)->Arg(1000);
BENCHMARK(BM_LerIni)->Arg(1000);
