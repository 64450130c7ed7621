// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "tools/quorvel-ini/console.hpp"

namespace quorvel {

std::vector<std::string> consoleArguments(int, char**) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) {
    const int length = static_cast<int>(wcslen(wide[i]));
    std::string bytes;
    if (length > 0) {
      const int n = WideCharToMultiByte(1252, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
      bytes.resize(static_cast<std::size_t>(n));
      WideCharToMultiByte(1252, 0, wide[i], length, bytes.data(), n, nullptr, nullptr);
    }
    args.push_back(std::move(bytes));
  }
  LocalFree(wide);
  return args;
}

}  // namespace quorvel
