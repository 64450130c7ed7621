// The capture step against a hand-off folder that turns read-only, vanishes or
// fills up, against writers killed in the middle of a write, and against a
// scale line that hangs up mid-line and comes back. Real folders, mounts and
// pseudo-terminals; the mounts need root and are skipped with the reason where
// the kernel refuses them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "capture/state/state.hpp"
#include "platform/serial_port.hpp"
#include "profile/ini.hpp"
#include "scale/capture_step.hpp"
#include "tests/support/fakes.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Another workstation's section, with a comment and a blank line around it;
// every byte of it must survive whatever happens to this workstation's writes.
constexpr std::string_view kOther =
    "; estacao da expedicao\r\n[Pesagem.BALANCA02]\r\nAtivo=1\r\nPeso=7.5\r\n\r\n";
constexpr std::string_view kSection = "Pesagem.BALANCA01";

// A mount over a folder for the life of the object; unmounted (lazily, so a
// file left open cannot keep it) even when the test fails.
class Mount {
 public:
  static std::optional<Mount> tmpfs(const fs::path& at, const char* options, std::string& why) {
    if (::mount("tmpfs", at.c_str(), "tmpfs", 0, options) != 0) {
      why = std::string("mount -t tmpfs refused: ") + std::strerror(errno);
      return std::nullopt;
    }
    return Mount(at);
  }
  static std::optional<Mount> readOnlyBind(const fs::path& at, std::string& why) {
    if (::mount(at.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      why = std::string("bind mount refused: ") + std::strerror(errno);
      return std::nullopt;
    }
    Mount m(at);
    if (::mount(nullptr, at.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
      why = std::string("read-only remount refused: ") + std::strerror(errno);
      return std::nullopt;
    }
    return m;
  }
  Mount(Mount&& o) noexcept : at_(std::exchange(o.at_, {})) {}
  Mount& operator=(Mount&&) = delete;
  ~Mount() { release(); }
  void release() {
    if (!at_.empty()) ::umount2(at_.c_str(), MNT_DETACH);
    at_.clear();
  }

 private:
  explicit Mount(fs::path at) : at_(std::move(at)) {}
  fs::path at_;
};

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
  return names;
}

std::size_t occurrences(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string_view::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

class HandOffFault : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(folder_);
    test::writeFile(file_, kOther);
    s_.FLAG_ABERTA = 1;
    s_.V_BALANCA = "TOL";
    s_.V_NOME_CPD = "BALANCA01";
    s_.V_PASTA = folder_.string();
  }

  // One timer tick, with `line` arriving from the scale before it.
  void tick(std::string_view line = {}) {
    if (!line.empty()) serial_.feed(std::string(line) + "\r");
    EXPECT_NO_THROW(CAPTURA_PESO(s_, serial_, window_));
  }

  std::string weight() const { return readProfileString(kSection, "Peso", "<none>", file_); }

  void expectOtherSectionIntact() const {
    EXPECT_TRUE(test::readFile(file_).starts_with(kOther)) << test::readFile(file_);
    EXPECT_EQ(readProfileString("Pesagem.BALANCA02", "Peso", "<none>", file_), "7.5");
  }

  test::TempDir tmp_;
  fs::path folder_ = tmp_ / "Pesagem";
  fs::path file_ = folder_ / "quorvel.txt";
  CaptureState s_;
  test::ScriptedSerial serial_;
  test::RecordingWindow window_;
};

TEST_F(HandOffFault, ReadOnlyFolderKeepsTheFileAndWritingResumesWhenWritable) {
  tick("012.50");
  ASSERT_EQ(weight(), "12.5");
  const std::string before = test::readFile(file_);

  {
    std::string why;
    auto readOnly = Mount::readOnlyBind(folder_, why);
    if (!readOnly) GTEST_SKIP() << why;
    tick("013.25");
    tick();
    tick();
    EXPECT_EQ(s_.V_PESO, Decimal::parse("13.25"));
    EXPECT_EQ(test::readFile(file_), before);
    EXPECT_EQ(namesIn(folder_), std::set<std::string>{"quorvel.txt"});
  }

  tick();
  EXPECT_EQ(weight(), "13.25");
  EXPECT_EQ(namesIn(folder_), std::set<std::string>{"quorvel.txt"});
  expectOtherSectionIntact();
}

TEST_F(HandOffFault, VanishedFolderIsNotRecreatedAndWritingResumesWhenItReturns) {
  tick("012.50");
  ASSERT_EQ(weight(), "12.5");
  const fs::path away = tmp_ / "desmontada";
  fs::rename(folder_, away);

  tick("013.25");
  tick();
  EXPECT_FALSE(fs::exists(folder_));
  EXPECT_FALSE(fs::exists(tmp_ / "quorvel.txt"));

  fs::rename(away, folder_);
  EXPECT_EQ(weight(), "12.5");
  tick();
  EXPECT_EQ(weight(), "13.25");
  expectOtherSectionIntact();
}

TEST_F(HandOffFault, FullDiskKeepsTheOldFileAndWritingResumesWhenThereIsRoom) {
  fs::remove(file_);
  std::string why;
  auto disk = Mount::tmpfs(folder_, "size=64k,mode=0755", why);
  if (!disk) GTEST_SKIP() << why;
  test::writeFile(file_, kOther);
  tick("012.50");
  ASSERT_EQ(weight(), "12.5");

  // Take every free block.
  const fs::path filler = folder_ / "enchimento";
  {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    const std::string byte(1, 'x');
    while (::write(fd, byte.data(), 1) > 0) {
    }
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
  }
  const std::string before = test::readFile(file_);

  // The new file needs a block of its own, and none is free.
  for (int i = 0; i < 3; ++i) tick(i == 0 ? "9999.9" : "");
  EXPECT_EQ(test::readFile(file_), before);
  EXPECT_EQ(namesIn(folder_), (std::set<std::string>{"enchimento", "quorvel.txt"}));

  fs::remove(filler);
  tick();
  EXPECT_EQ(weight(), "9999.9");
  expectOtherSectionIntact();
}

// A host name with a blank at its end (a tab pasted into the host name) names
// the same section on every tick: the file keeps one section for it, and a
// weight that stands still leaves the file alone.
TEST_F(HandOffFault, HostNameEndingInATabKeepsOneSection) {
  s_.V_NOME_CPD = "BALANCA01\t";
  for (const char* line : {"012.50", "013.25", "014.00", "014.00"}) tick(line);
  const std::string bytes = test::readFile(file_);
  EXPECT_EQ(occurrences(bytes, "[Pesagem.BALANCA01"), 1U) << bytes;
  EXPECT_EQ(occurrences(bytes, "Peso="), 2U) << bytes;
  EXPECT_EQ(weight(), "14");
  struct stat before {};
  ASSERT_EQ(::stat(file_.c_str(), &before), 0);
  tick();
  struct stat after {};
  ASSERT_EQ(::stat(file_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino) << "a standing weight rewrote the file";
  expectOtherSectionIntact();
}

// Children that rewrite their own section without pause, each killed with
// SIGKILL at a random moment: whatever a killed writer leaves behind (a lock
// that dies with it, a temporary file), the capture step goes on writing and no
// section is lost or torn.
TEST_F(HandOffFault, WritersKilledMidWriteLoseNothingOfTheOthers) {
  // Names a writer might have used for its temporary file, left from a crash.
  const std::string ownPattern = ".quorvel.txt." + std::to_string(::getpid()) + ".1.12345";
  for (const std::string& name :
       {std::string("quorvel.txt.tmp"), std::string(".quorvel.txt.a1b2c3"),
        std::string("quorvel.txt~"), ownPattern}) {
    test::writeFile(folder_ / name, "[Pesagem.BALANCA01]\r\nPeso=meio escr");
  }
  const std::set<std::string> leftovers = namesIn(folder_);

  std::mt19937 random(20261211);
  int weightTenths = 100;
  for (int round = 0; round < 40; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      writeProfileString("Pesagem.FILHO", "Peso", "0", file_);
      if (::write(ready[1], "!", 1) != 1) ::_exit(1);
      for (long i = 1;; ++i) {
        writeProfileString("Pesagem.FILHO", "Peso", std::to_string(i), file_);
      }
    }
    char signal = 0;
    ASSERT_EQ(::read(ready[0], &signal, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    ++weightTenths;
    char line[16];
    std::snprintf(line, sizeof line, "%04d.%d", weightTenths / 10, weightTenths % 10);
    tick(line);
    ASSERT_EQ(weight(), Decimal::parse(line).toShortestText()) << "round " << round;
    expectOtherSectionIntact();
    const std::string childValue = readProfileString("Pesagem.FILHO", "Peso", "", file_);
    EXPECT_FALSE(childValue.empty());
    EXPECT_EQ(childValue.find_first_not_of("0123456789"), std::string::npos) << childValue;
    const std::string bytes = test::readFile(file_);
    EXPECT_EQ(occurrences(bytes, "[Pesagem.BALANCA01]"), 1U) << bytes;
    EXPECT_LE(occurrences(bytes, "[Pesagem.FILHO]"), 1U) << bytes;
  }
  for (const auto& name : leftovers) {
    EXPECT_TRUE(fs::exists(folder_ / name)) << "a file the capture step does not own went away";
  }
  // What the killed writers left (their temporary files) is theirs to leave;
  // it is reported, and the writes above show that it is in nobody's way.
  RecordProperty("files_left_by_killed_writers",
                 static_cast<int>(namesIn(folder_).size() - leftovers.size()));
}

// The master side of a pseudo-terminal: the scale's end of the line.
class Scale {
 public:
  Scale() {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) throw std::runtime_error("pty");
    path_ = ::ptsname(fd_);
  }
  ~Scale() { hangUp(); }
  Scale(const Scale&) = delete;
  Scale& operator=(const Scale&) = delete;
  const std::string& path() const { return path_; }
  // A full line buffer (nobody reading yet) drops the bytes; callers repeat.
  void send(std::string_view bytes) {
    if (::write(fd_, bytes.data(), bytes.size()) < 0) {
      // dropped on purpose
    }
  }
  void hangUp() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  std::string path_;
};

// Points `link` at `target` in one step, as a device manager renames a node.
void relink(const fs::path& link, const std::string& target) {
  const fs::path next = link.string() + ".novo";
  fs::remove(next);
  fs::create_symlink(target, next);
  fs::rename(next, link);
}

bool ticksUntil(const std::function<void()>& tick, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    tick();
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST_F(HandOffFault, ScaleThatHangsUpMidLineIsReadAgainWhenItComesBack) {
  const fs::path device = tmp_ / "balanca";
  auto scale = std::make_unique<Scale>();
  relink(device, scale->path());
  TermiosSerial port([&](int) { return device.string(); });
  ASSERT_EQ(port.Func012(0, test::RecordingWindow::kHandle), 0);
  ASSERT_EQ(port.Func001(0, 9600, 0, 8, 1), 0);
  const auto tickPort = [&] { EXPECT_NO_THROW(CAPTURA_PESO(s_, port, window_)); };

  scale->send("012.50\r");
  ASSERT_TRUE(ticksUntil(tickPort, [&] { return weight() == "12.5"; }));

  scale->send("013");
  ASSERT_TRUE(ticksUntil(tickPort, [&] { return s_.STRLEITURA == "013"; }));
  scale->hangUp();
  // Longer than the layer waits between attempts to reopen the device.
  const auto gone = std::chrono::steady_clock::now() + 4 * TermiosSerial::kReopenInterval;
  while (std::chrono::steady_clock::now() < gone) {
    tickPort();
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(s_.FLAG_ABERTA, 1);
  EXPECT_EQ(s_.V_BUFFER, "012.50");
  EXPECT_EQ(weight(), "12.5");

  scale = std::make_unique<Scale>();
  relink(device, scale->path());
  ASSERT_TRUE(ticksUntil(
      [&] {
        scale->send("014.25\r");
        tickPort();
      },
      [&] { return weight() == "14.25"; }))
      << "last line: " << s_.V_BUFFER.view();
  expectOtherSectionIntact();
  port.Func084(0, test::RecordingWindow::kHandle);
}

}  // namespace
}  // namespace quorvel
