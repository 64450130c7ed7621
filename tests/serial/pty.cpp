#include "pty.hpp"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <thread>

namespace quorvel::test {

Pty::Pty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  path_ = ::ptsname(master_);
}

Pty::~Pty() {
  close();
}

void Pty::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("write to the pseudo-terminal failed");
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void Pty::close() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

int RecordingSystem::open(const char* path, int flags) {
  opened.emplace_back(path);
  if (!openErrors.empty()) {
    errno = openErrors.front();
    openErrors.pop_front();
    return -1;
  }
  const int fd = SerialSystem::open(path, flags);
  if (fd >= 0) {
    lastFd = fd;
    ++opens;
  }
  return fd;
}

int RecordingSystem::close(int fd) {
  closed.push_back(fd);
  return SerialSystem::close(fd);
}

ssize_t RecordingSystem::read(int fd, void* buffer, std::size_t size) {
  ++reads;
  if (!readErrors.empty()) {
    const int e = readErrors.front();
    readErrors.pop_front();
    if (e != 0) {
      errno = e;
      return -1;
    }
  }
  return SerialSystem::read(fd, buffer, readSlice > 0 ? std::min(size, readSlice) : size);
}

std::chrono::steady_clock::time_point RecordingSystem::now() {
  return SerialSystem::now() + advanced;
}

bool eventually(const std::function<bool()>& f) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!f()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string drain(SerialLibrary& serial, std::int32_t port, std::size_t count) {
  std::string got;
  eventually([&] {
    if (resultCode(serial.Func062(port)) != 0) {
      for (std::int32_t b; (b = serial.Func041(port)) >= 0;) got += static_cast<char>(b);
    }
    return got.size() >= count;
  });
  return got;
}

}  // namespace quorvel::test
