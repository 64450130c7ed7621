#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
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
// A temporary file lives for the milliseconds of one write; one that is older
// was left by a writer that died. Age is the only test that holds on a shared
// folder, where the writer may be a process of another host.
constexpr auto kStaleAge = std::chrono::minutes(1);

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

// Calls `once` with what is left until every byte is taken: a short write goes
// on from where it stopped, EINTR is tried again, and a write that takes
// nothing fails with EIO instead of looping.
template <typename WriteOnce>
bool writeEvery(std::string_view bytes, WriteOnce once) {
  while (!bytes.empty()) {
    const ssize_t n = once(bytes);
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

bool writeAll(int fd, std::string_view bytes) {
  return writeEvery(
      bytes, [&](std::string_view rest) { return sys().write(fd, rest.data(), rest.size()); });
}

bool writeAllAt(int fd, std::string_view bytes, off_t offset) {
  return writeEvery(bytes, [&](std::string_view rest) {
    const ssize_t n = sys().pwrite(fd, rest.data(), rest.size(), offset);
    if (n > 0) offset += n;
    return n;
  });
}

bool flushRetrying(int fd) {
  int r;
  do r = sys().flush(fd);
  while (r != 0 && errno == EINTR);
  return r == 0;
}

// Writers hold the lock for a read and a rename, well under a millisecond. One
// that holds it much longer (a stalled host on a network share) must not freeze
// the capture: after kLockWait the write fails, and the next one tries again.
// Only the writers' byte is locked, never the content: a file server makes
// byte-range locks mandatory for its Windows clients, whose reads of locked
// bytes would fail.
bool lockExclusive(int fd) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(kWriterLockOffset);
  lock.l_len = 1;
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
  // A link that leads nowhere (ENOENT) or around in a loop (ELOOP) fails here,
  // since no new file can take its place without replacing the link.
  struct stat st {};
  if (sys().lstat(t.path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = ::realpath(t.path.c_str(), nullptr);
    if (real == nullptr) return false;
    t.path = real;
    std::free(real);
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

// Windows writers lock a file of their own beside the profile file instead of
// the profile file (see kWriterLockOffset); where one of them has been, a
// Linux writer takes that lock first, so that writers of both systems on one
// shared folder exclude each other. The file is never created here, so that
// folders of Linux workstations alone stay as they were. One that is missing,
// or that cannot be opened for writing (no permission), gives -1: the lock on
// the profile file is then the only one.
int openWindowsLockFile(const Target& t) {
  ErrnoKeeper keep;
  const std::string name = t.folder + "." + t.name + ".lock";
  const int fd = openRetrying(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
  struct stat st {};
  if (fd >= 0 && (sys().fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    sys().close(fd);
    return -1;
  }
  return fd;
}

// Temporary files are named ".<name>.<pid>.<n>.<stamp>" after the target's
// name. A name too long for that to fit in NAME_MAX gives its first bytes and a
// hash of the whole instead, so that each target still has a stem of its own.
constexpr std::size_t kNameMax = 255;
constexpr std::size_t kSuffixMax = 25;  // ".<pid>.<n>.<stamp>": 7, 10 and 5 digits

std::string temporaryStem(const std::string& name) {
  constexpr std::size_t kRoom = kNameMax - kSuffixMax - 1;  // less the leading '.'
  if (name.size() <= kRoom) return "." + name;
  std::uint32_t hash = 2166136261u;  // FNV-1a: the same on every host
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  char hex[10];
  std::snprintf(hex, sizeof hex, "~%08x", static_cast<unsigned>(hash));
  return "." + name.substr(0, kRoom - 9) + hex;
}

// Removes the temporary files of `t` that writers which died left behind, at
// most once a minute per target and process: listing a shared folder costs a
// round trip to the server. Files of other targets and other names stay.
void removeStaleTemporaries(const Target& t) {
  static std::mutex mutex;
  static std::map<std::string, std::chrono::steady_clock::time_point> lastSweep;
  const auto now = std::chrono::steady_clock::now();
  {
    const std::lock_guard<std::mutex> guard(mutex);
    if (lastSweep.size() > 64) lastSweep.clear();
    const auto [it, first] = lastSweep.try_emplace(t.path, now);
    if (!first && now - it->second < kStaleAge) return;
    it->second = now;
  }
  ErrnoKeeper keep;
  DIR* dir = ::opendir(t.folder.empty() ? "." : t.folder.c_str());
  if (dir == nullptr) return;
  const std::string stem = temporaryStem(t.name) + ".";
  const auto cutoff = std::chrono::system_clock::now() - kStaleAge;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(stem) || !isTemporarySuffix(name.substr(stem.size()))) continue;
    const std::string path = t.folder + std::string(name);
    struct stat st {};
    if (sys().lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const auto modified = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) +
            std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    if (modified < cutoff) sys().unlink(path.c_str());
  }
  ::closedir(dir);
}

// A new file in the target's folder under a name that no one else uses;
// the caller removes it unless it is renamed into place.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { remove(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool create(const Target& t, mode_t mode) {
    static std::atomic<unsigned> counter{0};
    const std::string stem = t.folder + temporaryStem(t.name) + ".";
    for (int i = 0; i < 100; ++i) {
      const auto stamp = static_cast<unsigned long long>(
          std::chrono::steady_clock::now().time_since_epoch().count());
      std::string candidate = stem + std::to_string(::getpid()) + "." + std::to_string(++counter) +
                              "." + std::to_string(stamp % 100000);
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
  void remove() {
    if (!path_.empty()) {
      ErrnoKeeper keep;
      fd_.reset();
      sys().unlink(path_.c_str());
      path_.clear();
    }
  }
  int fd() const { return fd_->get(); }
  const std::string& path() const { return path_; }
  // The content is complete and on the disk before the file takes the
  // target's name: after a power cut the name holds the old bytes or the new
  // ones, never an empty file. Network file systems may report a failed
  // write only at the flush or when the descriptor is closed.
  bool finish() {
    if (!flushRetrying(fd_->get())) return false;
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

// A sticky folder (as /tmp) lets only a file's owner replace it.
bool stickyForMe(const Target& t, const struct stat& file) {
  const uid_t me = ::geteuid();
  if (me == 0 || file.st_uid == me) return false;
  struct stat folder {};
  const std::string name = t.folder.empty() ? "." : t.folder;
  return sys().stat(name.c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 &&
         folder.st_uid != me;
}

// The new content in a new file renamed over the old one. `denied` tells that
// the folder does not let this user do so (no right to create files in it, a
// sticky folder and another user's file) or that the file's group cannot be
// kept: then the caller writes in place, and errno is not a failure yet.
bool replaceWhole(const Target& t, const struct stat& old, std::string_view content, bool& denied) {
  denied = false;
  if (stickyForMe(t, old)) {
    denied = true;
    return false;
  }
  TempFile temp;
  if (!temp.create(t, 0600)) {
    denied = errno == EACCES || errno == EPERM;
    return false;
  }
  if (!writeAll(temp.fd(), content)) return false;
  // The other users of a shared folder reach the file through its group and
  // its mode, so the new file keeps both. Keeping the group takes membership
  // of it (root keeps the owner as well); the owner goes first because a
  // change of owner clears the set-id bits that the mode then puts back.
  const uid_t me = ::geteuid();
  if (sys().fchown(temp.fd(), me == 0 ? old.st_uid : static_cast<uid_t>(-1), old.st_gid) != 0) {
    denied = errno == EPERM;
    return false;
  }
  if (sys().fchmod(temp.fd(), old.st_mode & 07777) != 0) return false;
  if (!temp.finish()) return false;
  if (sys().rename(temp.path().c_str(), t.path.c_str()) != 0) {
    denied = errno == EPERM || errno == EACCES;
    return false;
  }
  temp.placed();
  return true;
}

// The content written into the locked file itself, as the Windows profile
// functions always write, for a folder that does not let this user replace
// the file. Readers may see a mixture of old and new for that moment. The
// blocks for a longer content are claimed before the first byte changes, so a
// full disk leaves the old file; a write that fails midway puts the old bytes
// back as far as it can.
bool writeInPlace(int fd, std::string_view old, std::string_view content) {
  if (content.size() > old.size() && sys().reserve(fd, static_cast<off_t>(content.size())) != 0 &&
      errno != EOPNOTSUPP && errno != ENOSYS)
    return false;
  if (!writeAllAt(fd, content, 0)) {
    ErrnoKeeper keep;
    if (writeAllAt(fd, old, 0)) (void)sys().truncate(fd, static_cast<off_t>(old.size()));
    return false;
  }
  int r;
  do r = sys().truncate(fd, static_cast<off_t>(content.size()));
  while (r != 0 && errno == EINTR);
  return r == 0 && flushRetrying(fd);
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

  bool denied = false;
  if (replaceWhole(t, locked, *content, denied)) {
    result = WriteResult::Written;
  } else if (denied && writeInPlace(fd.get(), bytes, *content)) {
    result = WriteResult::Written;
  }
  return Step::Done;  // closing the descriptor releases the lock
}

}  // namespace

std::optional<std::string> readProfileBytes(const std::filesystem::path& file) {
  const std::string& path = file.native();
  if (path.empty() || path.find('\0') != std::string::npos) {
    errno = EINVAL;
    return std::nullopt;
  }
  // Non-blocking so that a FIFO under this name cannot hang the caller.
  Fd fd(openRetrying(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK, 0));
  if (!fd.valid()) return std::nullopt;
  struct stat st {};
  if (sys().fstat(fd.get(), &st) != 0) return std::nullopt;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return std::nullopt;
  }
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
  removeStaleTemporaries(target);
  // Held, like the lock on the profile file, for the whole read-change-write.
  const Fd windowsWriters(openWindowsLockFile(target));
  if (windowsWriters.valid() && !lockExclusive(windowsWriters.get())) return WriteResult::Failed;
  WriteResult result = WriteResult::Failed;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    if (replaceLocked(target, section, key, value, result) == Step::Done) return result;
  }
  errno = EAGAIN;
  return WriteResult::Failed;
}

}  // namespace quorvel
