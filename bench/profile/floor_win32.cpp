#include <windows.h>

#include "bench/profile/floor.hpp"

namespace quorvel::bench {

bool rewriteThroughTemporary(const std::filesystem::path& file, const std::filesystem::path& tmp,
                             std::string& buffer, bool flush) {
  HANDLE in = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD n = 0;
  const bool read = in != INVALID_HANDLE_VALUE &&
                    ::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr);
  if (in != INVALID_HANDLE_VALUE) ::CloseHandle(in);
  HANDLE out = ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  const bool wrote = out != INVALID_HANDLE_VALUE &&
                     ::WriteFile(out, buffer.data(), n, &written, nullptr) && written == n &&
                     (!flush || ::FlushFileBuffers(out));
  if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
  return ::MoveFileExW(tmp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) && read && wrote;
}

std::string windowsName(const std::filesystem::path& file) {
  return file.string();
}

}  // namespace quorvel::bench
