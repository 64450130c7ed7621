#pragma once
// Helpers shared by the fuzz targets: one scratch folder per process, removed at
// exit, and whole-file reads that tell a missing file from an empty one.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace quorvel::fuzz {

// A folder of its own for this process, on a memory file system where there is
// one, since every input writes files. Aborts when none can be made. The path
// is never destroyed: the exit handler that removes the folder runs after the
// destructors of statics made before it was registered.
inline const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path* const folder = [] {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path(ec);
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path candidate =
          base / ("quorvel-fuzz-" + std::to_string(random() % 1000000000));
      if (std::filesystem::create_directory(candidate, ec)) {
        std::atexit([] {
          std::error_code ignored;
          std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return new std::filesystem::path(candidate);
      }
    }
    std::perror("no scratch folder");
    std::abort();
  }();
  return *folder;
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
