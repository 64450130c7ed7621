// Writes that cannot be carried out: the old file stays as it was and no
// temporary file is left. Failures of single system calls are injected through
// the profile system table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "profile/ini.hpp"
#include "profile/profile_file.hpp"
#include "profile/profile_system.hpp"
#include "tests/support/profile_fixtures.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using test::kStart;
using test::readFile;
using test::TempDir;
using test::writeFile;

struct stat statOf(const std::filesystem::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0);
  return st;
}

TEST(WriteFailure, MissingFolderCreatesNothing) {
  TempDir dir;
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "v", dir / "none" / "p.ini"), WriteResult::Failed);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(test::fileNames(dir.path()).empty());
}

TEST(WriteFailure, SameValueKeepsTimeStampAndInode) {
  TempDir dir;
  const auto file = dir / "p.ini";
  writeFile(file, kStart);
  const timespec old[2] = {{978307200, 0}, {978307200, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
  ::chmod(file.c_str(), 0640);
  const struct stat before = statOf(file);

  EXPECT_EQ(writeProfileString("s", "K", "1", file), WriteResult::Unchanged);
  const struct stat same = statOf(file);
  EXPECT_EQ(same.st_ino, before.st_ino);
  EXPECT_EQ(same.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(same.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  // A change replaces the file and keeps its permission bits.
  EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Written);
  const struct stat after = statOf(file);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(test::fileNames(dir.path()), std::set<std::string>{"p.ini"});
}

TEST(WriteFailure, FileOverSixteenMegabytesIsNotRewritten) {
  TempDir dir;
  const auto file = dir / "big.ini";
  const std::string big = kStart + std::string((std::size_t{16} << 20) + 1, 'x');
  writeFile(file, big);
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Failed);
  EXPECT_EQ(errno, EFBIG);
  EXPECT_EQ(std::filesystem::file_size(file), big.size());
  EXPECT_EQ(readProfileString("S", "k", "d", file), "1");
  EXPECT_EQ(test::fileNames(dir.path()), std::set<std::string>{"big.ini"});
}

TEST(WriteFailure, NonRegularFilesAreNeitherReadNorWritten) {
  TempDir dir;
  const auto fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  EXPECT_EQ(readProfileString("S", "k", "d", fifo), "d");  // and does not hang
  EXPECT_EQ(writeProfileString("S", "k", "v", fifo), WriteResult::Failed);
  EXPECT_EQ(readProfileString("S", "k", "d", dir.path()), "d");
  EXPECT_EQ(writeProfileString("S", "k", "v", dir.path()), WriteResult::Failed);
  EXPECT_EQ(test::fileNames(dir.path()), std::set<std::string>{"fifo"});
}

TEST(WriteFailure, LinkStaysALink) {
  TempDir dir;
  const auto target = dir / "real.ini";
  const auto link = dir / "link.ini";
  writeFile(target, kStart);
  std::filesystem::create_symlink(target, link);
  EXPECT_EQ(writeProfileString("S", "k", "2", link), WriteResult::Written);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(readFile(target), "; keep\r\n[S]\r\nk=2\r\n");
}

TEST(WriteFailure, LinkLeadingNowhereFailsAtOnce) {
  TempDir dir;
  const auto link = dir / "link.ini";
  std::filesystem::create_symlink(dir / "gone" / "real.ini", link);
  static int attempts = 0;
  attempts = 0;
  profileSystem().open = [](const char* p, int f, mode_t m) {
    ++attempts;
    return realProfileSystem().open(p, f, m);
  };
  errno = 0;
  const WriteResult result = writeProfileString("S", "k", "v", link);
  const int error = errno;
  profileSystem() = realProfileSystem();
  EXPECT_EQ(result, WriteResult::Failed);
  EXPECT_EQ(error, ENOENT) << std::strerror(error);
  EXPECT_EQ(attempts, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(test::fileNames(dir.path()), std::set<std::string>{"link.ini"});
}

// Near NAME_MAX, the temporary file's name cannot hold the whole name.
TEST(WriteFailure, LongFileNamesAreCreatedAndReplaced) {
  TempDir dir;
  for (const std::size_t length : {std::size_t{200}, std::size_t{255}}) {
    const std::string name = std::string(length - 4, 'n') + ".ini";
    const auto file = dir / name;
    EXPECT_EQ(writeProfileString("S", "k", "1", file), WriteResult::Written) << length;
    EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Written) << length;
    EXPECT_EQ(readFile(file), "[S]\r\nk=2\r\n");
    EXPECT_EQ(test::fileNames(dir.path()), std::set<std::string>{name});
    std::filesystem::remove(file);
  }
}

// A writer killed after it wrote its temporary file and before the rename: its
// flush never returns. The name of the file it leaves, or nothing.
int leftoverSignal = -1;
std::optional<std::string> killWriterMidWrite(const std::filesystem::path& file) {
  const auto before = test::fileNames(file.parent_path());
  int ready[2];
  EXPECT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    leftoverSignal = ready[1];
    profileSystem().flush = [](int) {
      if (::write(leftoverSignal, "!", 1) == 1) ::pause();
      return -1;
    };
    (void)writeProfileString("S", "k", "killed", file);
    if (::write(ready[1], "x", 1) != 1) ::_exit(1);
    ::_exit(0);
  }
  char c = 0;
  EXPECT_EQ(::read(ready[0], &c, 1), 1);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  for (const std::string& name : test::fileNames(file.parent_path()))
    if (std::find(before.begin(), before.end(), name) == before.end()) return name;
  return std::nullopt;
}

void age(const std::filesystem::path& p) {
  const timespec old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
  EXPECT_EQ(::utimensat(AT_FDCWD, p.c_str(), old, AT_SYMLINK_NOFOLLOW), 0) << p;
}

// Only the temporary files of the written file that are older than a minute
// go: a fresh one may belong to a live writer on another host, and the others
// are not this writer's to judge.
TEST(StaleTemporaries, WritersThatDiedLeaveNothingForLong) {
  for (const std::size_t length : {std::size_t{11}, std::size_t{255}}) {
    TempDir dir;
    const auto file = dir / (std::string(length - 4, 'q') + ".txt");
    const auto other = dir / "outro.txt";
    writeFile(file, kStart);
    writeFile(other, kStart);
    const auto stale = killWriterMidWrite(file);
    const auto fresh = killWriterMidWrite(file);
    const auto othersStale = killWriterMidWrite(other);
    ASSERT_TRUE(stale && fresh && othersStale) << "no temporary file left, length " << length;
    const std::string lookalike = "." + file.filename().string().substr(0, 240) + ".tmp";
    writeFile(dir / lookalike, "x");
    for (const auto& name : {*stale, *othersStale, lookalike}) age(dir / name);

    EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Written);
    EXPECT_FALSE(std::filesystem::exists(dir / *stale)) << *stale;
    for (const auto& name : {*fresh, *othersStale, lookalike})
      EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    EXPECT_EQ(readFile(file), "; keep\r\n[S]\r\nk=2\r\n");
  }
}

// Runs the write in a child without privileges, so that permission bits count
// even when the tests run as root.
WriteResult writeAsNobody(const std::filesystem::path& file) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    ::_exit(static_cast<int>(writeProfileString("S", "k", "2", file)));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 100) << "cannot drop privileges";
  return static_cast<WriteResult>(WEXITSTATUS(status));
}

struct PermissionCase {
  const char* name;
  mode_t folderMode;
  mode_t fileMode;
};
// Failure messages name the case instead of dumping its bytes.
void PrintTo(const PermissionCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadOnly : public testing::TestWithParam<PermissionCase> {};

TEST_P(ReadOnly, LeavesFileAndFolderAsTheyWere) {
  TempDir dir;
  const auto folder = dir / "f";
  const auto file = folder / "p.ini";
  std::filesystem::create_directory(folder);
  writeFile(file, kStart);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(file.c_str(), GetParam().fileMode), 0);
  ASSERT_EQ(::chmod(folder.c_str(), GetParam().folderMode), 0);
  const struct stat before = statOf(file);

  EXPECT_EQ(writeAsNobody(file), WriteResult::Failed);
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(readFile(file), kStart);
  EXPECT_EQ(statOf(file).st_ino, before.st_ino);
  EXPECT_EQ(test::fileNames(folder), std::set<std::string>{"p.ini"});
}

INSTANTIATE_TEST_SUITE_P(Profile, ReadOnly,
                         testing::Values(PermissionCase{"File", 0777, 0444},
                                         PermissionCase{"FileAndFolder", 0555, 0444}),
                         [](const auto& p) { return std::string(p.param.name); });

// Injected failures. The table entries call the real functions unless a test
// arms a failure; one fault at a time.
struct Fault {
  int errorNumber = 0;
  int skip = 0;   // calls that pass before the failures start
  int times = 0;  // calls that fail
  int calls = 0;
  bool strike() {
    ++calls;
    if (calls <= skip || calls > skip + times) return false;
    errno = errorNumber;
    return true;
  }
};
Fault fault;
std::function<void()> onNoReplace;  // runs before the exclusive rename
int shortWrites = 0;

class Injected : public testing::Test {
 protected:
  void SetUp() override {
    fault = Fault{};
    onNoReplace = nullptr;
    shortWrites = 0;
    writeFile(file, kStart);
  }
  void TearDown() override { profileSystem() = realProfileSystem(); }
  void expectUntouched() {
    EXPECT_EQ(readFile(file), kStart);
    EXPECT_EQ(test::fileNames(dir.path()), std::set<std::string>{"p.ini"});
  }
  TempDir dir;
  std::filesystem::path file = dir / "p.ini";
};

void armRead() {
  profileSystem().read = [](int fd, void* b, size_t n) -> ssize_t {
    return fault.strike() ? -1 : realProfileSystem().read(fd, b, n);
  };
}
void armWrite() {
  profileSystem().write = [](int fd, const void* b, size_t n) -> ssize_t {
    if (fault.strike()) return -1;
    if (shortWrites > 0 && n > 1) --shortWrites, n = 1;
    return realProfileSystem().write(fd, b, n);
  };
}

struct FaultCase {
  const char* name;
  void (*arm)();
  int errorNumber;
  int times;
  WriteResult expected;
};
void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

const FaultCase kFaultCases[] = {
    {"ReadInterrupted", armRead, EINTR, 2, WriteResult::Written},
    {"ReadError", armRead, EIO, 1, WriteResult::Failed},
    {"WriteInterrupted", armWrite, EINTR, 3, WriteResult::Written},
    {"DiskFull", armWrite, ENOSPC, 1, WriteResult::Failed},
    {"OpenInterrupted",
     [] {
       profileSystem().open = [](const char* p, int f, mode_t m) {
         return fault.strike() ? -1 : realProfileSystem().open(p, f, m);
       };
     },
     EINTR, 1, WriteResult::Written},
    {"LockInterrupted",
     [] {
       profileSystem().lock = [](int fd, struct flock* l) {
         return fault.strike() ? -1 : realProfileSystem().lock(fd, l);
       };
     },
     EINTR, 3, WriteResult::Written},
    {"NoLocks",
     [] {
       profileSystem().lock = [](int fd, struct flock* l) {
         return fault.strike() ? -1 : realProfileSystem().lock(fd, l);
       };
     },
     ENOLCK, 1, WriteResult::Failed},
    {"PermissionsNotCopied",
     [] {
       profileSystem().fchmod = [](int fd, mode_t m) {
         return fault.strike() ? -1 : realProfileSystem().fchmod(fd, m);
       };
     },
     EPERM, 1, WriteResult::Failed},
    {"CloseOfTemporaryReportsError",  // as network file systems do for a lost write
     [] {
       profileSystem().close = [](int fd) {
         const int r = realProfileSystem().close(fd);
         return fault.strike() ? -1 : r;
       };
     },
     EIO, 1, WriteResult::Failed},
    {"FlushFails",  // the new file never takes the name of the old one unflushed
     [] {
       profileSystem().flush = [](int fd) {
         return fault.strike() ? -1 : realProfileSystem().flush(fd);
       };
     },
     EIO, 1, WriteResult::Failed},
    {"RenameFails",
     [] {
       profileSystem().rename = [](const char* a, const char* b) {
         return fault.strike() ? -1 : realProfileSystem().rename(a, b);
       };
     },
     EXDEV, 1, WriteResult::Failed},
};

class InjectedFault : public Injected, public testing::WithParamInterface<FaultCase> {};

TEST_P(InjectedFault, OldFileOrNewFileNeverHalf) {
  const FaultCase& c = GetParam();
  fault.errorNumber = c.errorNumber;
  fault.times = c.times;
  c.arm();
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "2", file), c.expected);
  EXPECT_GE(fault.calls, c.times);
  if (c.expected == WriteResult::Failed) {
    EXPECT_EQ(errno, c.errorNumber);
    expectUntouched();
  } else {
    EXPECT_EQ(readFile(file), "; keep\r\n[S]\r\nk=2\r\n");
    EXPECT_EQ(test::fileNames(dir.path()), std::set<std::string>{"p.ini"});
  }
}

INSTANTIATE_TEST_SUITE_P(Profile, InjectedFault, testing::ValuesIn(kFaultCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(Injected, ShortWritesAreCompleted) {
  armWrite();
  shortWrites = 5;
  EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Written);
  EXPECT_EQ(shortWrites, 0);
  EXPECT_EQ(readFile(file), "; keep\r\n[S]\r\nk=2\r\n");
}

// A folder that refuses new files (the open that creates the temporary file
// fails with EACCES) but a writable file: the write goes in place. Space is
// claimed before the first byte changes, and a write that fails midway puts
// the old bytes back.
TEST_F(Injected, InPlaceWhenTheFolderRefusesNewFiles) {
  struct Case {
    const char* name;
    void (*arm)();
    WriteResult expected;
  };
  const Case cases[] = {
      {"Fine", [] {}, WriteResult::Written},
      {"DiskFull",
       [] {
         profileSystem().reserve = [](int fd, off_t n) {
           return fault.strike() ? -1 : realProfileSystem().reserve(fd, n);
         };
         fault = Fault{ENOSPC, 0, 1};
       },
       WriteResult::Failed},
      {"WriteError",
       [] {
         // The bytes land, and then the device reports an error.
         profileSystem().pwrite = [](int fd, const void* b, size_t n, off_t at) -> ssize_t {
           const ssize_t r = realProfileSystem().pwrite(fd, b, n, at);
           return fault.strike() ? -1 : r;
         };
         fault = Fault{EIO, 0, 1};
       },
       WriteResult::Failed},
  };
  for (const Case& c : cases) {
    writeFile(file, kStart);
    const ino_t inode = statOf(file).st_ino;
    profileSystem() = realProfileSystem();
    profileSystem().open = [](const char* p, int f, mode_t m) {
      if ((f & O_CREAT) != 0) {
        errno = EACCES;
        return -1;
      }
      return realProfileSystem().open(p, f, m);
    };
    fault = Fault{};
    c.arm();
    EXPECT_EQ(writeProfileString("S", "k", "22", file), c.expected) << c.name;
    EXPECT_EQ(readFile(file),
              c.expected == WriteResult::Written ? "; keep\r\n[S]\r\nk=22\r\n" : kStart)
        << c.name;
    EXPECT_EQ(statOf(file).st_ino, inode) << c.name;
    EXPECT_EQ(test::fileNames(dir.path()), std::set<std::string>{"p.ini"}) << c.name;
  }
}

TEST_F(Injected, ReadingRetriesInterruptionsAndGivesDefaultOnError) {
  armRead();
  fault.errorNumber = EINTR;
  fault.times = 1;
  EXPECT_EQ(readProfileString("S", "k", "d", file), "1");
  fault = Fault{EIO, 0, 1};
  EXPECT_EQ(readProfileString("S", "k", "d", file), "d");
}

TEST_F(Injected, FileReplacedBeforeLockIsOpenedAgain) {
  // The name shows another file than the one locked, once: another writer
  // replaced it in between. The write must start over on the new file.
  profileSystem().stat = [](const char* p, struct stat* st) {
    const int r = realProfileSystem().stat(p, st);
    if (fault.strike()) ++st->st_ino;
    return r;
  };
  fault.times = 1;
  int opens = 0;
  static int* openCount = &opens;
  static const std::filesystem::path* target = &file;
  profileSystem().open = [](const char* p, int f, mode_t m) {
    if ((f & O_ACCMODE) == O_RDWR && *target == p) ++*openCount;
    return realProfileSystem().open(p, f, m);
  };
  EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Written);
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(readFile(file), "; keep\r\n[S]\r\nk=2\r\n");
}

TEST_F(Injected, FileCreatedByAnotherWriterMeanwhileIsEdited) {
  const auto fresh = dir / "new.ini";
  static const std::filesystem::path* target = &fresh;
  onNoReplace = [] { writeFile(*target, "[T]\r\nx=1\r\n"); };
  profileSystem().renameNoReplace = [](const char* a, const char* b) {
    if (onNoReplace) std::exchange(onNoReplace, nullptr)();
    return realProfileSystem().renameNoReplace(a, b);
  };
  EXPECT_EQ(writeProfileString("S", "k", "v", fresh), WriteResult::Written);
  EXPECT_EQ(readFile(fresh), "[T]\r\nx=1\r\n[S]\r\nk=v\r\n");
  EXPECT_EQ(test::fileNames(dir.path()).size(), 2u);
}

TEST_F(Injected, NewFileWithoutExclusiveRenameIsLinked) {
  const auto fresh = dir / "new.ini";
  profileSystem().renameNoReplace = [](const char*, const char*) {
    errno = EINVAL;
    return -1;
  };
  EXPECT_EQ(writeProfileString("S", "k", "v", fresh), WriteResult::Written);
  EXPECT_EQ(readFile(fresh), "[S]\r\nk=v\r\n");
  EXPECT_EQ(test::fileNames(dir.path()).size(), 2u);
}

TEST_F(Injected, NewFileFailureLeavesNothing) {
  const auto fresh = dir / "new.ini";
  armWrite();
  fault = Fault{ENOSPC, 0, 1};
  EXPECT_EQ(writeProfileString("S", "k", "v", fresh), WriteResult::Failed);
  EXPECT_EQ(errno, ENOSPC);
  expectUntouched();
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Another writer's lock: an open file description of its own on the file.
class HeldLock {
 public:
  explicit HeldLock(const std::filesystem::path& file)
      : fd_(::open(file.c_str(), O_RDWR | O_CLOEXEC)) {
    struct flock l {};
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    EXPECT_EQ(::fcntl(fd_, F_OFD_SETLK, &l), 0);
  }
  ~HeldLock() { release(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  void release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

TEST(WriteLock, WaitsForAnotherWriterButNotForever) {
  test::TempDir dir;
  const auto file = dir / "h.txt";
  test::writeFile(file, kStart);
  {
    HeldLock other(file);
    std::thread releaser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      other.release();
    });
    EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Written);
    releaser.join();
  }
  HeldLock stalled(file);
  const auto start = std::chrono::steady_clock::now();
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "3", file), WriteResult::Failed);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(test::readFile(file), "; keep\r\n[S]\r\nk=2\r\n");
  EXPECT_EQ(test::fileNames(dir.path()).size(), 1u);
}

// The writers' lock as fcntl shows it to another open file description:
// the type of the first lock that stands in the way of `type` on
// [start, start + length), F_UNLCK when none does.
struct flock lockInTheWay(const std::filesystem::path& file, short type, off_t start,
                          off_t length) {
  struct flock l {};
  l.l_type = type;
  l.l_whence = SEEK_SET;
  l.l_start = start;
  l.l_len = length;
  const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_GE(fd, 0) << file;
  EXPECT_EQ(::fcntl(fd, F_OFD_GETLK, &l), 0) << std::strerror(errno);
  ::close(fd);
  return l;
}

struct SeenMidWrite {
  std::filesystem::path file;
  std::filesystem::path lockFile;
  off_t size = 0;
  std::optional<struct flock> onContent, onWholeFile, onLockFile;
};
SeenMidWrite* seen = nullptr;

// A writer holds its locks while it flushes the new file: what others see then.
// A file server makes byte-range locks mandatory for Windows clients, so the
// lock must leave every byte of the content to readers and lock only the
// writers' byte; where the Windows writers' lock file is, its byte is held too.
TEST(WriteLock, LeavesTheContentToReadersAndTakesTheWindowsWritersLock) {
  for (const bool windowsWritersWereHere : {false, true}) {
    TempDir dir;
    SeenMidWrite what;
    what.file = dir / "h.txt";
    what.lockFile = dir / ".h.txt.lock";
    writeFile(what.file, kStart);
    if (windowsWritersWereHere) writeFile(what.lockFile, "");
    what.size = static_cast<off_t>(kStart.size());
    seen = &what;
    profileSystem().flush = [](int fd) {
      if (!seen->onContent) {
        seen->onContent = lockInTheWay(seen->file, F_RDLCK, 0, seen->size);
        seen->onWholeFile = lockInTheWay(seen->file, F_RDLCK, 0, 0);
        if (std::filesystem::exists(seen->lockFile))
          seen->onLockFile = lockInTheWay(seen->lockFile, F_RDLCK, 0, 0);
      }
      return realProfileSystem().flush(fd);
    };
    const WriteResult result = writeProfileString("S", "k", "2", what.file);
    profileSystem() = realProfileSystem();
    seen = nullptr;

    SCOPED_TRACE(windowsWritersWereHere ? "with the lock file" : "without the lock file");
    EXPECT_EQ(result, WriteResult::Written);
    ASSERT_TRUE(what.onContent && what.onWholeFile);
    EXPECT_EQ(what.onContent->l_type, F_UNLCK);
    const auto writersByte = static_cast<off_t>(kWriterLockOffset);
    EXPECT_EQ(what.onWholeFile->l_type, F_WRLCK);
    EXPECT_EQ(what.onWholeFile->l_start, writersByte);
    EXPECT_EQ(what.onWholeFile->l_len, 1);
    EXPECT_EQ(what.onLockFile.has_value(), windowsWritersWereHere);
    if (what.onLockFile) {
      EXPECT_EQ(what.onLockFile->l_type, F_WRLCK);
      EXPECT_EQ(what.onLockFile->l_start, writersByte);
      EXPECT_EQ(what.onLockFile->l_len, 1);
    }
    EXPECT_EQ(readFile(what.file), "; keep\r\n[S]\r\nk=2\r\n");
    // The lock file is the Windows writers' own: never made here, never removed.
    std::set<std::string> expected{"h.txt"};
    if (windowsWritersWereHere) expected.insert(".h.txt.lock");
    EXPECT_EQ(test::fileNames(dir.path()), expected);
  }
}

// A Windows writer on a shared folder, as the file server shows its
// LockFileEx to Linux: a lock of the writers' byte of the lock file, held by
// another process.
class WindowsWriter {
 public:
  explicit WindowsWriter(const std::filesystem::path& lockFile) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(release_), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(lockFile.c_str(), O_RDWR);
      struct flock l {};
      l.l_type = F_WRLCK;
      l.l_whence = SEEK_SET;
      l.l_start = static_cast<off_t>(kWriterLockOffset);
      l.l_len = 1;
      const char result = fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &l) == 0 ? 'y' : 'n';
      if (::write(ready[1], &result, 1) != 1) ::_exit(1);
      char c;
      (void)::read(release_[0], &c, 1);
      ::_exit(0);
    }
    char result = 0;
    EXPECT_EQ(::read(ready[0], &result, 1), 1);
    EXPECT_EQ(result, 'y') << "the Windows writer could not take its lock";
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~WindowsWriter() { release(); }
  WindowsWriter(const WindowsWriter&) = delete;
  WindowsWriter& operator=(const WindowsWriter&) = delete;
  void release() {
    if (pid_ <= 0) return;
    EXPECT_EQ(::write(release_[1], "x", 1), 1);
    ::waitpid(pid_, nullptr, 0);
    ::close(release_[0]);
    ::close(release_[1]);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_[2] = {-1, -1};
};

TEST(WriteLock, WaitsForAWindowsWriterButNotForever) {
  TempDir dir;
  const auto file = dir / "h.txt";
  const auto lockFile = dir / ".h.txt.lock";
  writeFile(file, kStart);
  writeFile(lockFile, "");
  const std::set<std::string> names{".h.txt.lock", "h.txt"};

  WindowsWriter stalled(lockFile);
  const auto start = std::chrono::steady_clock::now();
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Failed);
  EXPECT_EQ(errno, ETIMEDOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(readFile(file), kStart);
  EXPECT_EQ(test::fileNames(dir.path()), names);

  // A lock file this user may not open leaves the lock on the file alone.
  profileSystem().open = [](const char* p, int f, mode_t m) {
    if (std::string_view(p).ends_with(".lock")) {
      errno = EACCES;
      return -1;
    }
    return realProfileSystem().open(p, f, m);
  };
  EXPECT_EQ(writeProfileString("S", "k", "3", file), WriteResult::Written);
  profileSystem() = realProfileSystem();

  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    stalled.release();
  });
  EXPECT_EQ(writeProfileString("S", "k", "4", file), WriteResult::Written);
  releaser.join();
  EXPECT_EQ(readFile(file), "; keep\r\n[S]\r\nk=4\r\n");
  EXPECT_EQ(test::fileNames(dir.path()), names);
}

}  // namespace
}  // namespace quorvel
