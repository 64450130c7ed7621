#pragma once
// Helpers shared by the fuzz targets: one scratch folder per process, removed at
// exit, and whole-file reads that tell a missing file from an empty one.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::fuzz {

// A folder of its own for this process, on a memory file system where there is
// one, since every input writes files. Aborts when none can be made.
inline const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path folder = [] {
    std::error_code ec;
    std::string base = std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/quorvel-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratchFolder(), ignored);
    });
    return std::filesystem::path(pattern);
  }();
  return folder;
}

inline std::optional<std::string> slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void spill(const std::filesystem::path& p, std::string_view bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) std::abort();
}

// Stops the run with a message that libFuzzer keeps next to the input.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

#define QUORVEL_FUZZ_CHECK(cond) \
  ((cond) ? static_cast<void>(0) : ::quorvel::fuzz::fail(#cond " (" __FILE__ ")"))

}  // namespace quorvel::fuzz
