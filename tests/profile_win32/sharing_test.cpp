// Profile files on the real Win32: writers in several processes, readers that
// use the Windows profile functions or hold the file open, and writes that
// cannot be carried out.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "profile/ini.hpp"
#include "profile/ini_format.hpp"
#include "tests/support/profile_fixtures.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using test::kStart;
using test::readFile;
using test::TempDir;
using test::writeFile;

// The writers' lock file stays next to the file it guards; nothing else may.
std::set<std::string> fileAndLock(const std::string& name) {
  return {name, "." + name + ".lock"};
}

class Child {
 public:
  explicit Child(const std::vector<std::string>& args) {
    std::string line = "\"" + std::string(QUORVEL_PROFILE_CHILD) + "\"";
    for (const std::string& a : args) line += " \"" + a + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process_) != 0;
  }
  ~Child() {
    if (started_) {
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  // The exit code, or -1 when the child did not start or did not end in time.
  int wait(DWORD milliseconds = 120000) {
    DWORD code = 0;
    if (!started_ || WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.hProcess, &code))
      return -1;
    return static_cast<int>(code);
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_{};
};

std::string windowsPath(const std::filesystem::path& p) {
  std::string s = p.string();
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

TEST(Sharing, WritersKeepEachOthersSectionsWhileWindowsReads) {
  constexpr int kWriters = 4;
  constexpr int kWrites = 40;
  TempDir dir;
  const auto file = dir / "quorvel.txt";
  writeFile(file, "; hand-off\r\n");
  const std::string event = "quorvel-test-stop-" + std::to_string(GetCurrentProcessId());
  HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
  ASSERT_NE(stop, nullptr);

  std::vector<std::string> sections;
  for (int w = 0; w < kWriters; ++w) sections.push_back("Pesagem.WS" + std::to_string(w));
  std::vector<std::string> readerArgs{"reader", windowsPath(file), event};
  readerArgs.insert(readerArgs.end(), sections.begin(), sections.end());
  Child reader(readerArgs);
  std::vector<std::unique_ptr<Child>> writers;
  for (const std::string& s : sections)
    writers.push_back(std::make_unique<Child>(
        std::vector<std::string>{"writer", windowsPath(file), s, std::to_string(kWrites)}));
  for (std::size_t w = 0; w < writers.size(); ++w) EXPECT_EQ(writers[w]->wait(), 0) << sections[w];
  SetEvent(stop);
  EXPECT_EQ(reader.wait(), 0);
  CloseHandle(stop);

  const std::string bytes = readFile(file);
  EXPECT_EQ(bytes.rfind("; hand-off\r\n", 0), 0u);
  for (const std::string& s : sections) {
    EXPECT_EQ(findProfileValue(bytes, s, "Peso"), std::to_string(kWrites)) << s;
    EXPECT_EQ(findProfileValue(bytes, s, "Ativo"), "1") << s;
  }
  EXPECT_EQ(test::fileNames(dir.path()), fileAndLock("quorvel.txt"));
}

// As the Windows profile functions open it: shared for reading and writing,
// not for deletion, which keeps a replacement from landing.
HANDLE openAsWindowsReader(const std::filesystem::path& file) {
  return CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

TEST(Sharing, ReaderHoldingTheFileDelaysWritesButLosesNone) {
  TempDir dir;
  const auto file = dir / "p.ini";
  writeFile(file, kStart);
  HANDLE held = openAsWindowsReader(file);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Failed);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(readFile(file), kStart);
  EXPECT_EQ(test::fileNames(dir.path()), fileAndLock("p.ini"));

  // A reader that lets go within the writer's patience: the write is late, not lost.
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    CloseHandle(held);
  });
  EXPECT_EQ(writeProfileString("S", "k", "3", file), WriteResult::Written);
  release.join();
  EXPECT_EQ(readFile(file), "; keep\r\n[S]\r\nk=3\r\n");
  EXPECT_EQ(test::fileNames(dir.path()), fileAndLock("p.ini"));
}

// Another writer: the lock that every writer of the file takes.
class HeldLock {
 public:
  explicit HeldLock(const std::filesystem::path& file)
      : h_(CreateFileW((file.parent_path() / ("." + file.filename().string() + ".lock")).c_str(),
                       GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                       nullptr)) {
    OVERLAPPED at{};
    at.OffsetHigh = 0x40;
    EXPECT_TRUE(LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at));
  }
  ~HeldLock() { release(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  void release() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

TEST(Sharing, WriterWaitsForAnotherWriterButNotForever) {
  TempDir dir;
  const auto file = dir / "h.txt";
  writeFile(file, kStart);
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
  EXPECT_EQ(readFile(file), "; keep\r\n[S]\r\nk=2\r\n");
  // A reader is never held up by the writers' lock.
  EXPECT_EQ(readProfileString("S", "k", "d", file), "2");
}

TEST(WriteFailure, OldFileStaysAndNothingIsLeft) {
  TempDir dir;
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "v", dir / "none" / "p.ini"), WriteResult::Failed);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(test::fileNames(dir.path()).empty());

  const auto readOnly = dir / "ro.ini";
  writeFile(readOnly, kStart);
  ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "2", readOnly), WriteResult::Failed);
  EXPECT_EQ(errno, EACCES);
  SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(readFile(readOnly), kStart);

  const auto big = dir / "big.ini";
  const std::string bigBytes = kStart + std::string((std::size_t{16} << 20) + 1, 'x');
  writeFile(big, bigBytes);
  errno = 0;
  EXPECT_EQ(writeProfileString("S", "k", "2", big), WriteResult::Failed);
  EXPECT_EQ(errno, EFBIG);
  EXPECT_EQ(std::filesystem::file_size(big), bigBytes.size());
  EXPECT_EQ(readProfileString("S", "k", "d", big), "1");  // the first 16 MiB are read

  const auto folder = dir / "folder.ini";
  std::filesystem::create_directory(folder);
  EXPECT_EQ(writeProfileString("S", "k", "v", folder), WriteResult::Failed);
  EXPECT_EQ(readProfileString("S", "k", "d", folder), "d");
  EXPECT_EQ(readProfileString("S", "k", "d", "NUL"), "d");

  EXPECT_EQ(test::fileNames(dir.path()),
            (std::set<std::string>{"ro.ini", ".ro.ini.lock", "big.ini", ".big.ini.lock",
                                   "folder.ini", ".folder.ini.lock"}));
}

TEST(WriteFailure, SameValueLeavesTheFileAndItsTimeStamp) {
  TempDir dir;
  const auto file = dir / "p.ini";
  writeFile(file, kStart);
  HANDLE h = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  FILETIME old{};
  old.dwHighDateTime = 0x01C0'0000;  // in the year 2000
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &old));
  CloseHandle(h);
  EXPECT_EQ(writeProfileString("s", "K", "1", file), WriteResult::Unchanged);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, old.dwHighDateTime);
  EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, old.dwLowDateTime);
}

TEST(WriteFailure, ReplacementKeepsTheFileAttributes) {
  TempDir dir;
  const auto file = dir / "p.ini";
  writeFile(file, kStart);
  ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Written);
  EXPECT_EQ(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN, DWORD{FILE_ATTRIBUTE_HIDDEN});
  EXPECT_EQ(readFile(file), "; keep\r\n[S]\r\nk=2\r\n");
}

void makeFile(const std::filesystem::path& p, std::chrono::minutes age) {
  writeFile(p, "partial");
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t{};
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart -= static_cast<ULONGLONG>(age.count()) * 60 * 10'000'000ull;
  FILETIME then{t.LowPart, t.HighPart};
  HANDLE h = CreateFileW(p.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         0, nullptr);
  SetFileTime(h, nullptr, nullptr, &then);
  CloseHandle(h);
}

TEST(WriteFailure, TemporaryFilesOfKilledWritersAreRemovedWhenOld) {
  TempDir dir;
  const auto file = dir / "p.ini";
  writeFile(file, kStart);
  makeFile(dir / ".p.ini.4242.7.123", std::chrono::minutes(60));  // a killed writer's
  makeFile(dir / ".p.ini.4243.1.456", std::chrono::minutes(0));   // a live writer's
  makeFile(dir / ".p.ini.notes.1.2", std::chrono::minutes(60));   // not of our pattern
  makeFile(dir / ".q.ini.4242.8.9", std::chrono::minutes(60));    // another file's
  EXPECT_EQ(writeProfileString("S", "k", "2", file), WriteResult::Written);
  EXPECT_EQ(test::fileNames(dir.path()),
            (std::set<std::string>{"p.ini", ".p.ini.lock", ".p.ini.4243.1.456", ".p.ini.notes.1.2",
                                   ".q.ini.4242.8.9"}));
}

}  // namespace
}  // namespace quorvel
