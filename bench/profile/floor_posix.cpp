#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "bench/profile/floor.hpp"

namespace quorvel::bench {

bool rewriteThroughTemporary(const std::filesystem::path& file, const std::filesystem::path& tmp,
                             std::string& buffer, bool flush) {
  const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  const ssize_t n = ::read(in, buffer.data(), buffer.size());
  ::close(in);
  const int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const bool written = n >= 0 && ::write(out, buffer.data(), static_cast<std::size_t>(n)) == n &&
                       (!flush || ::fdatasync(out) == 0);
  ::close(out);
  return ::rename(tmp.c_str(), file.c_str()) == 0 && written;
}

std::string windowsName(const std::filesystem::path& file) {
  // The profile layer drops the drive and turns backslashes into slashes.
  std::string name = "C:" + file.string();
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

}  // namespace quorvel::bench
