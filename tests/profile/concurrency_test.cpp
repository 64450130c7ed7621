// Real processes sharing one hand-off file: writers each update their own
// section while a reader watches the file. No writer may undo another's entry,
// and a reader sees whole files only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "profile/config.hpp"
#include "profile/ini.hpp"
#include "profile/ini_format.hpp"
#include "profile/profile_file.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

constexpr int kWriters = 4;
constexpr int kWrites = 150;

std::string sectionOf(int writer) {
  return "Pesagem.WS" + std::to_string(writer);
}

[[noreturn]] void runWriter(const std::filesystem::path& file, int writer) {
  int failures = 0;
  for (int n = 1; n <= kWrites; ++n) {
    if (writeProfileString(sectionOf(writer), "Ativo", "1", file) == WriteResult::Failed)
      ++failures;
    if (writeProfileString(sectionOf(writer), "Peso", std::to_string(n), file) !=
        WriteResult::Written)
      ++failures;
  }
  ::_exit(failures == 0 ? 0 : 1);
}

// Exit codes: 0 fine, 2 a section that had been seen vanished, 3 a value went
// back, 4 a section without both of its entries, 5 no complete view was seen.
[[noreturn]] void runReader(const std::filesystem::path& file, int stopFd) {
  std::vector<int> last(kWriters, 0);
  int views = 0;
  char stop = 0;
  while (::read(stopFd, &stop, 1) <= 0) {
    const std::string bytes = test::readFile(file);
    if (bytes.empty()) continue;
    ++views;
    for (int w = 0; w < kWriters; ++w) {
      const auto peso = findProfileValue(bytes, sectionOf(w), "Peso");
      const auto ativo = findProfileValue(bytes, sectionOf(w), "Ativo");
      if (!peso) {
        if (last[static_cast<std::size_t>(w)] > 0) ::_exit(2);
        continue;
      }
      if (!ativo) ::_exit(4);
      const int n = profileInteger(*peso);
      if (n < last[static_cast<std::size_t>(w)]) ::_exit(3);
      last[static_cast<std::size_t>(w)] = n;
    }
  }
  ::_exit(views > 0 ? 0 : 5);
}

int exitCode(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(Concurrency, WritersKeepEachOthersSectionsAndReadersSeeWholeFiles) {
  test::TempDir dir;
  const auto file = dir / "quorvel.txt";
  test::writeFile(file, "; hand-off\r\n");

  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  ::fcntl(stop[0], F_SETFL, O_NONBLOCK);
  const pid_t reader = ::fork();
  if (reader == 0) {
    ::close(stop[1]);
    runReader(file, stop[0]);
  }
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0) runWriter(file, w);
    writers.push_back(pid);
  }
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(exitCode(writers[static_cast<std::size_t>(w)]), 0) << w;
  ASSERT_EQ(::write(stop[1], "x", 1), 1);
  EXPECT_EQ(exitCode(reader), 0);
  ::close(stop[0]);  // open until here: a reader that quit early must not kill us by SIGPIPE
  ::close(stop[1]);

  const std::string bytes = test::readFile(file);
  EXPECT_EQ(bytes.rfind("; hand-off\r\n", 0), 0u);
  for (int w = 0; w < kWriters; ++w) {
    EXPECT_EQ(findProfileValue(bytes, sectionOf(w), "Peso"), std::to_string(kWrites)) << w;
    EXPECT_EQ(findProfileValue(bytes, sectionOf(w), "Ativo"), "1") << w;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(Concurrency, WritersCreatingTheFileTogetherLoseNothing) {
  test::TempDir dir;
  const auto file = dir / "quorvel.txt";
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0)
      ::_exit(writeProfileString(sectionOf(w), "Ativo", "1", file) == WriteResult::Written ? 0 : 1);
    writers.push_back(pid);
  }
  for (pid_t pid : writers) EXPECT_EQ(exitCode(pid), 0);
  const std::string bytes = test::readFile(file);
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(findProfileValue(bytes, sectionOf(w), "Ativo"), "1") << w;
}

// A Windows writer as a file server shows it to Linux: it locks the writers'
// byte of the lock file beside the profile file (LockFileEx arrives as a
// byte-range lock there) and takes no lock on the profile file itself, then
// reads, edits and replaces it.
[[noreturn]] void runWindowsStyleWriter(const std::filesystem::path& file,
                                        const std::filesystem::path& lockFile, int writer) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) ::_exit(10);
  const auto temp = file.parent_path() / ("win." + std::to_string(writer));
  for (int n = 1; n <= kWrites; ++n) {
    struct flock l {};
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    l.l_start = static_cast<off_t>(kWriterLockOffset);
    l.l_len = 1;
    while (::fcntl(fd, F_OFD_SETLK, &l) != 0)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    const auto content =
        editProfile(test::readFile(file), sectionOf(writer), "Peso", std::to_string(n));
    if (!content) ::_exit(11);
    test::writeFile(temp, *content);
    if (std::rename(temp.c_str(), file.c_str()) != 0) ::_exit(12);
    l.l_type = F_UNLCK;
    if (::fcntl(fd, F_OFD_SETLK, &l) != 0) ::_exit(13);
  }
  ::_exit(0);
}

// Linux and Windows workstations writing one file on a shared folder where
// the Windows writers' lock file is: none undoes another's entry.
TEST(Concurrency, LinuxAndWindowsWritersKeepEachOthersSections) {
  test::TempDir dir;
  const auto file = dir / "quorvel.txt";
  const auto lockFile = dir / ".quorvel.txt.lock";
  test::writeFile(file, "; hand-off\r\n");
  test::writeFile(lockFile, "");
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (w % 2 == 0) runWriter(file, w);
      runWindowsStyleWriter(file, lockFile, w);
    }
    writers.push_back(pid);
  }
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(exitCode(writers[static_cast<std::size_t>(w)]), 0) << w;
  const std::string bytes = test::readFile(file);
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(findProfileValue(bytes, sectionOf(w), "Peso"), std::to_string(kWrites)) << w;
}

}  // namespace
}  // namespace quorvel
