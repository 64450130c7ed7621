// Runs a fuzz target once over every file of the folders (or files) named on
// the command line, so that the seed corpus and every input that once broke
// something are checked by the ordinary suite, without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(arg)) {
        if (e.is_regular_file()) inputs.push_back(e.path());
      }
    } else {
      inputs.push_back(arg);
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs\n");
    return 1;
  }
  for (const auto& p : inputs) {
    const auto bytes = quorvel::fuzz::slurp(p);
    if (!bytes) {
      std::fprintf(stderr, "cannot read %s\n", p.string().c_str());
      return 1;
    }
    std::fprintf(stderr, "%s\n", p.string().c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
  }
  std::printf("%zu passed, 0 failed\n", inputs.size());
  return 0;
}
