// One profile file written in turn by several users of a shared folder, each a
// real process with its own user and groups (numeric ids, no accounts needed).
// Whatever the folder allows, every write lands and no user locks another out.
// Changing users takes root: without it the tests are skipped.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "profile/ini.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

constexpr gid_t kGroup = 61000;  // the group of the weighing workstations

struct User {
  const char* name;
  uid_t uid;
  gid_t gid;  // primary group
  std::vector<gid_t> groups;
};

const User kAna{"ana", 61001, 61001, {kGroup}};
const User kBeto{"beto", 61002, 61002, {kGroup}};
const User kCaio{"caio", 61003, 61003, {}};

struct Outcome {
  WriteResult result;
  int error;
};

// The write as `user` with `mask` as umask, in a child process.
Outcome writeAs(const User& user, mode_t mask, const std::filesystem::path& file,
                const std::string& value) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(user.groups.size(), user.groups.data()) != 0 ||
        ::setresgid(user.gid, user.gid, user.gid) != 0 ||
        ::setresuid(user.uid, user.uid, user.uid) != 0)
      ::_exit(255);
    ::umask(mask);
    const WriteResult r = writeProfileString("S", "k", value, file);
    ::_exit(static_cast<int>(r) | ((errno & 63) << 2));
  }
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status));
  const int code = WEXITSTATUS(status);
  EXPECT_NE(code, 255) << "cannot become " << user.name;
  return {static_cast<WriteResult>(code & 3), code >> 2};
}

struct stat statOf(const std::filesystem::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st;
}

struct ExistingFile {
  uid_t owner;
  gid_t group;
  mode_t mode;
};

struct SharedCase {
  const char* name;
  gid_t folderGroup;
  mode_t folderMode;
  mode_t umask;
  std::optional<ExistingFile> file;  // nothing: the first writer creates it
  std::vector<const User*> writers;  // in this order, each must land
  bool inPlace;                      // the file keeps its inode
  gid_t group;                       // of the file at the end
  mode_t mode;                       // of the file at the end
};
void PrintTo(const SharedCase& c, std::ostream* os) {
  *os << c.name;
}

const SharedCase kSharedCases[] = {
    // The recommended set-up: a setgid folder of the group and umask 002.
    {"SetgidGroupFolder",
     kGroup,
     02775,
     002,
     std::nullopt,
     {&kAna, &kBeto, &kAna, &kBeto},
     false,
     kGroup,
     0664},
    // Without the setgid bit a new file takes the writer's own group: the
    // replacement must put the file's group back, or the others are locked out.
    {"GroupFolderWithoutSetgid",
     kGroup,
     0775,
     002,
     ExistingFile{kAna.uid, kGroup, 0664},
     {&kBeto, &kAna, &kBeto, &kAna},
     false,
     kGroup,
     0664},
    // A folder like /tmp lets only a file's owner replace it: the others write in place.
    {"StickyFolder",
     0,
     01777,
     0,
     std::nullopt,
     {&kAna, &kBeto, &kCaio, &kBeto, &kAna},
     false,
     kAna.gid,
     0666},
    // No user may create files in the folder, but the file is the group's.
    {"FolderNotWritable",
     kGroup,
     0755,
     002,
     ExistingFile{0, kGroup, 0664},
     {&kAna, &kBeto, &kAna},
     true,
     kGroup,
     0664},
    // The writer owns the file but is not of its group: a replacement would
    // lose the group and lock its members out, so the write goes in place.
    {"WriterNotOfTheFilesGroup",
     0,
     0777,
     002,
     ExistingFile{kCaio.uid, kGroup, 0660},
     {&kCaio, &kAna, &kBeto},
     false,
     kGroup,
     0660},
};

class SharedFolder : public testing::TestWithParam<SharedCase> {};

TEST_P(SharedFolder, EveryWriteLandsAndNobodyIsLockedOut) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as other users needs root";
  const SharedCase& c = GetParam();
  test::TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const auto folder = dir / "Pesagem";
  const auto file = folder / "quorvel.txt";
  std::filesystem::create_directory(folder);
  ASSERT_EQ(::chown(folder.c_str(), 0, c.folderGroup), 0);
  ASSERT_EQ(::chmod(folder.c_str(), c.folderMode), 0);
  if (c.file) {
    test::writeFile(file, "[S]\r\nk=0\r\n");
    ASSERT_EQ(::chown(file.c_str(), c.file->owner, c.file->group), 0);
    ASSERT_EQ(::chmod(file.c_str(), c.file->mode), 0);
  }
  const ino_t firstInode = c.file ? statOf(file).st_ino : 0;

  int n = 0;
  for (const User* user : c.writers) {
    const std::string value = std::to_string(++n);
    const Outcome o = writeAs(*user, c.umask, file, value);
    EXPECT_EQ(o.result, WriteResult::Written)
        << "write " << n << " by " << user->name << ": " << std::strerror(o.error);
    EXPECT_EQ(readProfileString("S", "k", "", file), value) << "write " << n;
  }
  const struct stat st = statOf(file);
  EXPECT_EQ(st.st_gid, c.group);
  EXPECT_EQ(st.st_mode & 07777, c.mode);
  if (c.inPlace) {
    EXPECT_EQ(st.st_ino, firstInode);
  }
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"quorvel.txt"});
}

INSTANTIATE_TEST_SUITE_P(Profile, SharedFolder, testing::ValuesIn(kSharedCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace quorvel
