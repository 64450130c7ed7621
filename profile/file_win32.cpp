#include <aclapi.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "profile/ini_format.hpp"
#include "profile/profile_file.hpp"

namespace quorvel {
namespace {

// Profile files are a few lines per section; anything larger is not one of ours
// and is neither read past this point nor rewritten.
constexpr DWORD kMaxBytes = DWORD{16} << 20;
constexpr auto kLockWait = std::chrono::seconds(2);
// A reader that holds the file open without delete sharing (the Windows
// profile functions do) blocks the replacement; it lets go within
// milliseconds, and a write that still cannot land is late by one tick.
constexpr auto kReplaceWait = std::chrono::milliseconds(200);
// A live writer's temporary file lives for milliseconds; one this old was left
// by a writer that was killed.
constexpr auto kStaleAge = std::chrono::minutes(1);
constexpr auto kStaleSweepEvery = std::chrono::minutes(1);
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The errno that the contract of writeProfileString promises, from the
// Windows error of the failed step; GetLastError keeps the Windows value.
int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_TIMEOUT:
      return ETIMEDOUT;
    case ERROR_FILE_TOO_LARGE:
      return EFBIG;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    default:
      return EIO;
  }
}

// Reports a failure of this step, whatever the clean-up calls after it do.
struct Failure {
  DWORD error;
};

Failure failWith(DWORD error) {
  return Failure{error};
}
Failure lastFailure() {
  const DWORD e = GetLastError();
  return Failure{e != ERROR_SUCCESS ? e : ERROR_GEN_FAILURE};
}

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  void reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }
  // Closing reports the failures of a network file system's delayed write.
  bool close() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) != 0;
  }

 private:
  HANDLE h_;
};

struct FileFacts {
  DWORD attributes = 0;
  ULONGLONG size = 0;
};

// The two by-handle queries rather than GetFileInformationByHandle, which also
// asks for the volume's serial number: a slow round trip under Wine.
bool isRegularDiskFile(HANDLE h, FileFacts& facts) {
  if (GetFileType(h) != FILE_TYPE_DISK) return false;
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
      !GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard))
    return false;
  facts.attributes = basic.FileAttributes;
  facts.size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
  return !standard.Directory &&
         (facts.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// Reads from the start up to `limit` bytes; `complete` tells whether the end of
// the file was reached within the limit.
bool readUpTo(HANDLE h, std::size_t sizeHint, std::size_t limit, std::string& out, bool& complete) {
  out.assign(std::min(sizeHint, limit) + 1, '\0');
  std::size_t have = 0;
  for (;;) {
    if (have == out.size()) {
      if (have > limit) break;
      out.resize(std::min(out.size() * 2, limit + 1));
    }
    DWORD n = 0;
    if (!ReadFile(h, out.data() + have, static_cast<DWORD>(out.size() - have), &n, nullptr))
      return false;
    if (n == 0) {
      out.resize(have);
      complete = true;
      return true;
    }
    have += n;
    // A short read of a disk file is its end: no second call to learn it.
    if (have < out.size()) {
      out.resize(have);
      complete = true;
      return true;
    }
  }
  out.resize(limit);
  complete = false;
  return true;
}

bool writeAll(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD n = 0;
    if (!WriteFile(h, bytes.data(), chunk, &n, nullptr)) return false;
    if (n == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes.remove_prefix(n);
  }
  return true;
}

struct Target {
  std::wstring path;
  std::wstring folder;  // with its trailing separator, or empty
  std::wstring name;
};

bool splitTarget(const std::filesystem::path& file, Target& t) {
  t.path = file.native();
  if (t.path.empty() || t.path.find(L'\0') != std::wstring::npos) return false;
  const auto cut = t.path.find_last_of(L"\\/:");
  t.folder = cut == std::wstring::npos ? std::wstring{} : t.path.substr(0, cut + 1);
  t.name = cut == std::wstring::npos ? t.path : t.path.substr(cut + 1);
  return !t.name.empty();
}

// Temporary files are named .<name>.<process>.<counter>.<stamp>, as the
// Linux writers name theirs, so that either removes what the other's dead
// writers left in a shared folder.
std::wstring tempPrefix(const Target& t) {
  return t.folder + L"." + t.name + L".";
}

// The temporary files of killed writers of this file, by their naming pattern
// and their age; at most once a minute per file and process, under the lock.
void sweepStaleTemporaries(const Target& t) {
  static std::mutex guard;
  static std::map<std::wstring, std::chrono::steady_clock::time_point> lastSweep;
  {
    const std::lock_guard<std::mutex> hold(guard);
    const auto now = std::chrono::steady_clock::now();
    auto [at, fresh] = lastSweep.try_emplace(t.path, now);
    if (!fresh && now - at->second < kStaleSweepEvery) return;
    at->second = now;
    if (lastSweep.size() > 64) lastSweep.clear();  // a long run over many files
  }

  FILETIME nowFt{};
  GetSystemTimeAsFileTime(&nowFt);
  const ULONGLONG nowTicks = (ULONGLONG{nowFt.dwHighDateTime} << 32) | nowFt.dwLowDateTime;
  const ULONGLONG staleTicks =
      static_cast<ULONGLONG>(std::chrono::seconds(kStaleAge).count()) * 10'000'000ull;
  WIN32_FIND_DATAW found{};
  const std::wstring prefix = tempPrefix(t);
  HANDLE search = FindFirstFileExW((prefix + L"*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  const std::wstring namePrefix = L"." + t.name + L".";
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    // Only our own pattern: the wildcard also matches short names and other
    // programs' files, and the lock file must stay.
    const std::wstring_view name = found.cFileName;
    if (!name.starts_with(namePrefix) || !isTemporarySuffix(name.substr(namePrefix.size())))
      continue;
    const ULONGLONG written = (ULONGLONG{found.ftLastWriteTime.dwHighDateTime} << 32) |
                              found.ftLastWriteTime.dwLowDateTime;
    if (nowTicks > written && nowTicks - written > staleTicks)
      DeleteFileW((t.folder + std::wstring(name)).c_str());
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// A new file in the target's folder, under a name no one else uses; removed
// unless it was put in place.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile() {
    h_.reset();
    if (!path_.empty()) {
      const DWORD keep = GetLastError();
      DeleteFileW(path_.c_str());
      SetLastError(keep);
    }
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool create(const Target& t, DWORD attributes) {
    static std::atomic<unsigned> counter{0};
    for (int i = 0; i < 100; ++i) {
      std::wstring candidate = tempPrefix(t) + std::to_wstring(GetCurrentProcessId()) + L"." +
                               std::to_wstring(++counter) + L"." +
                               std::to_wstring(GetTickCount64() % 100000);
      HANDLE h = CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             attributes | FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        h_.reset(h);
        path_ = std::move(candidate);
        return true;
      }
      const DWORD e = GetLastError();
      if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
  }
  // The content is complete and on the disk before it replaces anything.
  bool finish(std::string_view content) {
    return writeAll(h_.get(), content) && FlushFileBuffers(h_.get()) && h_.close();
  }
  const std::wstring& path() const { return path_; }
  void placed() { path_.clear(); }

 private:
  Handle h_;
  std::wstring path_;
};

// The lock lives in a file of its own next to the profile file: a replacement
// cannot land while any handle is open on the file it replaces, so a writer
// cannot hold a lock on the profile file itself across its own replacement.
// The lock file stays; it is opened without delete sharing, so it cannot be
// removed or renamed while a writer holds or awaits it.
class WriterLock {
 public:
  bool acquire(const Target& t) {
    const std::wstring name = t.folder + L"." + t.name + L".lock";
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    for (;;) {
      if (!h_.valid()) {
        h_.reset(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
        // A sharing violation: another writer is creating the lock file this instant.
        if (!h_.valid() && GetLastError() != ERROR_SHARING_VIOLATION) return false;
      }
      if (h_.valid()) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(kWriterLockOffset);
        at.OffsetHigh = static_cast<DWORD>(kWriterLockOffset >> 32);
        if (LockFileEx(h_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
          return true;
        const DWORD e = GetLastError();
        if (e != ERROR_LOCK_VIOLATION && e != ERROR_IO_PENDING) return false;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        SetLastError(ERROR_TIMEOUT);
        return false;
      }
      Sleep(1);
    }
  }
  // Closing the handle releases the lock, also when the process dies.

 private:
  Handle h_;
};

enum class Placed { Yes, Exists, No };

// Puts the temporary file in place, retrying while a reader holds the old file
// open; `replace` false makes it a creation that fails when the name exists.
Placed putInPlace(const TempFile& temp, const Target& t, bool replace) {
  const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  const auto deadline = std::chrono::steady_clock::now() + kReplaceWait;
  for (;;) {
    if (MoveFileExW(temp.path().c_str(), t.path.c_str(), flags)) return Placed::Yes;
    const DWORD e = GetLastError();
    if (!replace && (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS)) return Placed::Exists;
    if (e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION && e != ERROR_LOCK_VIOLATION)
      return Placed::No;
    if (std::chrono::steady_clock::now() >= deadline) return Placed::No;
    Sleep(1);
  }
}

// A replacement made in the same folder inherits the folder's access list, as
// the old file did when it was made; only a list set apart from the folder's
// (protected from inheritance) has to be carried over.
void copyProtectedAccess(HANDLE from, const std::wstring& to) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  if (GetSecurityInfo(from, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                      nullptr, &sd) != ERROR_SUCCESS)
    return;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED) != 0)
    SetNamedSecurityInfoW(const_cast<wchar_t*>(to.c_str()), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, dacl, nullptr);
  LocalFree(sd);
}

constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

WriteResult writeLocked(const Target& t, std::string_view section, std::string_view key,
                        std::string_view value) {
  sweepStaleTemporaries(t);
  Handle old(CreateFileW(t.path.c_str(), GENERIC_READ | READ_CONTROL, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!old.valid()) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) throw lastFailure();
    const auto content = editProfile({}, section, key, value);
    if (!content) return WriteResult::Unchanged;
    TempFile temp;
    if (!temp.create(t, 0) || !temp.finish(*content)) throw lastFailure();
    switch (putInPlace(temp, t, false)) {
      case Placed::Yes:
        temp.placed();
        return WriteResult::Written;
      case Placed::Exists:  // made meanwhile by software that takes no lock: edit that one
        return writeLocked(t, section, key, value);
      case Placed::No:
        throw lastFailure();
    }
  }
  FileFacts facts;
  if (!isRegularDiskFile(old.get(), facts)) throw failWith(ERROR_INVALID_PARAMETER);
  if ((facts.attributes & FILE_ATTRIBUTE_READONLY) != 0) throw failWith(ERROR_ACCESS_DENIED);
  const ULONGLONG size = facts.size;
  if (size > kMaxBytes) throw failWith(ERROR_FILE_TOO_LARGE);
  std::string bytes;
  bool complete = false;
  if (!readUpTo(old.get(), static_cast<std::size_t>(size), kMaxBytes, bytes, complete))
    throw lastFailure();
  if (!complete) throw failWith(ERROR_FILE_TOO_LARGE);
  const auto content = editProfile(bytes, section, key, value);
  if (!content) return WriteResult::Unchanged;

  TempFile temp;
  if (!temp.create(t, facts.attributes & kKeptAttributes)) throw lastFailure();
  copyProtectedAccess(old.get(), temp.path());
  old.reset();  // an open handle on the old file would make the replacement fail
  if (!temp.finish(*content)) throw lastFailure();
  if (putInPlace(temp, t, true) != Placed::Yes) throw lastFailure();
  temp.placed();
  return WriteResult::Written;
}

}  // namespace

std::optional<std::string> readProfileBytes(const std::filesystem::path& file) {
  const std::wstring& path = file.native();
  if (path.empty() || path.find(L'\0') != std::wstring::npos) {
    errno = EINVAL;
    return std::nullopt;
  }
  // Shared every way, so that a reader never stands in a writer's way.
  Handle h(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!h.valid()) {
    const DWORD e = GetLastError();
    // A folder cannot be opened as a file: Windows says "access denied".
    const DWORD attributes = GetFileAttributesW(path.c_str());
    errno = e == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
                    (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                ? EISDIR
                : errnoOf(e);
    return std::nullopt;
  }
  FileFacts facts;
  if (!isRegularDiskFile(h.get(), facts)) {
    errno = (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : EINVAL;
    return std::nullopt;
  }
  std::string bytes;
  bool complete = false;
  if (!readUpTo(h.get(), static_cast<std::size_t>(std::min<ULONGLONG>(facts.size, kMaxBytes)),
                kMaxBytes, bytes, complete)) {
    errno = errnoOf(GetLastError());
    return std::nullopt;
  }
  return bytes;
}

WriteResult writeProfileValue(std::string_view section, std::string_view key,
                              std::string_view value, const std::filesystem::path& file) {
  Target target;
  if (!splitTarget(file, target)) {
    SetLastError(ERROR_INVALID_NAME);
    errno = EINVAL;
    return WriteResult::Failed;
  }
  try {
    WriterLock lock;
    if (!lock.acquire(target)) throw lastFailure();
    return writeLocked(target, section, key, value);
  } catch (const Failure& f) {
    SetLastError(f.error);
    errno = errnoOf(f.error);
    return WriteResult::Failed;
  }
}

}  // namespace quorvel
