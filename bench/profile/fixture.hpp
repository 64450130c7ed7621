#pragma once
// Hand-off files of many workstation sections in a fresh temporary folder, and
// the two values that each benchmark write alternates between.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.hpp"

namespace quorvel::bench {

inline std::string handOff(int sections) {
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

inline const char* value(std::int64_t i) {
  return (i & 1) != 0 ? "123.5" : "123.4";
}

}  // namespace quorvel::bench
