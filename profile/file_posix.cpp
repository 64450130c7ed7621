#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <thread>
#include <utility>

#include "profile/ini_format.hpp"
#include "profile/profile_file.hpp"
#include "profile/profile_system.hpp"

namespace quorvel {
namespace {

// Profile files are a few lines per section; anything larger is not one of ours
// and is neither read past this point nor rewritten.
constexpr std::size_t kMaxBytes = std::size_t{16} << 20;
constexpr auto kLockWait = std::chrono::seconds(2);
// A writer that keeps finding the file replaced under it gives up eventually.
constexpr int kMaxAttempts = 1000;

ProfileSystem& sys() {
  return profileSystem();
}

// Keeps errno of the failure across the clean-up calls that follow it.
class ErrnoKeeper {
 public:
  ErrnoKeeper() : saved_(errno) {}
  ~ErrnoKeeper() { errno = saved_; }
  ErrnoKeeper(const ErrnoKeeper&) = delete;
  ErrnoKeeper& operator=(const ErrnoKeeper&) = delete;

 private:
  int saved_;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset() {
    if (fd_ >= 0) {
      ErrnoKeeper keep;
      // Linux releases the descriptor even when close reports EINTR: no retry.
      sys().close(fd_);
    }
    fd_ = -1;
  }

 private:
  int fd_;
};

int openRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do fd = sys().open(path, flags | O_CLOEXEC, mode);
  while (fd < 0 && errno == EINTR);
  return fd;
}

// Reads from the start up to `limit` bytes; `complete` tells whether the end of
// the file was reached within the limit.
bool readUpTo(int fd, std::size_t sizeHint, std::size_t limit, std::string& out, bool& complete) {
  out.clear();
  out.resize(std::min(sizeHint, limit) + 1);
  std::size_t have = 0;
  for (;;) {
    if (have == out.size()) {
      if (have > limit) break;
      out.resize(std::min(out.size() * 2, limit + 1));
    }
    const ssize_t n = sys().read(fd, out.data() + have, out.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      out.resize(have);
      complete = true;
      return true;
    }
    have += static_cast<std::size_t>(n);
  }
  out.resize(limit);
  complete = false;
  return true;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = sys().write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writers hold the lock for a read and a rename, well under a millisecond. One
// that holds it much longer (a stalled host on a network share) must not freeze
// the capture: after kLockWait the write fails, and the next one tries again.
bool lockExclusive(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    if (sys().lock(fd, &lock) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EACCES) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      errno = ETIMEDOUT;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

struct Target {
  std::string path;
  std::string folder;  // with a trailing '/' when not empty
  std::string name;
};

bool splitTarget(const std::filesystem::path& file, Target& t) {
  t.path = file.string();
  if (t.path.empty() || t.path.find('\0') != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  // A link to the file stays a link: the file it points to is the one replaced.
  struct stat st {};
  if (sys().lstat(t.path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(t.path.c_str(), nullptr)) {
      t.path = real;
      std::free(real);
    }
  }
  const auto slash = t.path.rfind('/');
  t.folder = slash == std::string::npos ? std::string{} : t.path.substr(0, slash + 1);
  t.name = slash == std::string::npos ? t.path : t.path.substr(slash + 1);
  if (t.name.empty()) {
    errno = EISDIR;
    return false;
  }
  return true;
}

// A new file in the target's folder under a name that no one else uses;
// the caller removes it unless it is renamed into place.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() {
    if (!path_.empty()) {
      ErrnoKeeper keep;
      sys().unlink(path_.c_str());
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool create(const Target& t, mode_t mode) {
    static std::atomic<unsigned> counter{0};
    for (int i = 0; i < 100; ++i) {
      const auto stamp = static_cast<unsigned long long>(
          std::chrono::steady_clock::now().time_since_epoch().count());
      std::string candidate = t.folder + "." + t.name + "." + std::to_string(::getpid()) + "." +
                              std::to_string(++counter) + "." + std::to_string(stamp % 100000);
      const int fd = openRetrying(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
      if (fd >= 0) {
        fd_ = std::make_unique<Fd>(fd);
        path_ = std::move(candidate);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }
  int fd() const { return fd_->get(); }
  const std::string& path() const { return path_; }
  // The content is complete. Network file systems may report a failed write
  // only when the descriptor is closed.
  bool finish() {
    const int fd = fd_->release();
    return sys().close(fd) == 0 || errno == EINTR;
  }
  void placed() { path_.clear(); }

 private:
  std::unique_ptr<Fd> fd_;
  std::string path_;
};

enum class Step { Done, Retry };

// No file yet: the new one appears whole, and only if no other writer created
// the file meanwhile (then the caller starts over and edits that one).
Step createNew(const Target& t, std::string_view content, WriteResult& result) {
  result = WriteResult::Failed;
  TempFile temp;
  if (!temp.create(t, 0666) || !writeAll(temp.fd(), content) || !temp.finish()) return Step::Done;
  if (sys().renameNoReplace(temp.path().c_str(), t.path.c_str()) == 0) {
    temp.placed();
    result = WriteResult::Written;
    return Step::Done;
  }
  if (errno == EEXIST) return Step::Retry;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return Step::Done;
  // Some shared file systems have no exclusive rename; a hard link is just as exclusive.
  if (sys().link(temp.path().c_str(), t.path.c_str()) == 0) {
    result = WriteResult::Written;
    return Step::Done;
  }
  return errno == EEXIST ? Step::Retry : Step::Done;
}

Step replaceLocked(const Target& t, std::string_view section, std::string_view key,
                   std::string_view value, WriteResult& result) {
  result = WriteResult::Failed;
  Fd fd(openRetrying(t.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK, 0));
  if (!fd.valid()) {
    if (errno != ENOENT) return Step::Done;
    if (auto content = editProfile({}, section, key, value)) return createNew(t, *content, result);
    return Step::Done;
  }
  if (!lockExclusive(fd.get())) return Step::Done;

  // The file may have been replaced between our open and our lock: the lock
  // then guards a file that no longer has this name.
  struct stat locked {};
  struct stat named {};
  if (sys().fstat(fd.get(), &locked) != 0) return Step::Done;
  if (sys().stat(t.path.c_str(), &named) != 0) return errno == ENOENT ? Step::Retry : Step::Done;
  if (locked.st_dev != named.st_dev || locked.st_ino != named.st_ino) return Step::Retry;
  if (!S_ISREG(locked.st_mode)) {
    errno = EINVAL;
    return Step::Done;
  }
  if (static_cast<unsigned long long>(locked.st_size) > kMaxBytes) {
    errno = EFBIG;
    return Step::Done;
  }

  std::string bytes;
  bool complete = false;
  if (!readUpTo(fd.get(), static_cast<std::size_t>(locked.st_size), kMaxBytes, bytes, complete))
    return Step::Done;
  if (!complete) {
    errno = EFBIG;
    return Step::Done;
  }
  const auto content = editProfile(bytes, section, key, value);
  if (!content) {
    result = WriteResult::Unchanged;
    return Step::Done;
  }

  TempFile temp;
  if (!temp.create(t, 0600) || !writeAll(temp.fd(), *content)) return Step::Done;
  if (sys().fchmod(temp.fd(), locked.st_mode & 07777) != 0) return Step::Done;
  {
    // Keeping the owner needs privileges that a writer seldom has; it is a courtesy.
    ErrnoKeeper keep;
    if (locked.st_uid != ::geteuid() || locked.st_gid != ::getegid())
      (void)sys().fchown(temp.fd(), locked.st_uid, locked.st_gid);
  }
  if (!temp.finish()) return Step::Done;
  if (sys().rename(temp.path().c_str(), t.path.c_str()) != 0) return Step::Done;
  temp.placed();
  result = WriteResult::Written;
  return Step::Done;  // closing the descriptor releases the lock
}

}  // namespace

// The bytes of a regular file, up to the size limit; nothing when it cannot be read.
std::optional<std::string> readProfileBytes(const std::filesystem::path& file) {
  const std::string& path = file.native();
  if (path.empty() || path.find('\0') != std::string::npos) return std::nullopt;
  // Non-blocking so that a FIFO under this name cannot hang the caller.
  Fd fd(openRetrying(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK, 0));
  if (!fd.valid()) return std::nullopt;
  struct stat st {};
  if (sys().fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  std::string bytes;
  bool complete = false;
  if (!readUpTo(fd.get(), static_cast<std::size_t>(st.st_size), kMaxBytes, bytes, complete))
    return std::nullopt;
  return bytes;
}

WriteResult writeProfileValue(std::string_view section, std::string_view key,
                              std::string_view value, const std::filesystem::path& file) {
  Target target;
  if (!splitTarget(file, target)) return WriteResult::Failed;
  WriteResult result = WriteResult::Failed;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (replaceLocked(target, section, key, value, result) == Step::Done) return result;
  }
  errno = EAGAIN;
  return WriteResult::Failed;
}

}  // namespace quorvel
