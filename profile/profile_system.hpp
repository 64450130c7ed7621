#pragma once
// The system calls that profile file access makes, behind one table so that
// tests can make any of them fail (EINTR, EIO, ENOSPC...). profileSystem() is the
// table in use; a test replaces entries and puts realProfileSystem() back.
// Every entry returns -1 and sets errno on failure, as the system calls do.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace quorvel {

struct ProfileSystem {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* buffer, size_t size);
  ssize_t (*write)(int fd, const void* buffer, size_t size);
  ssize_t (*pwrite)(int fd, const void* buffer, size_t size, off_t offset);
  int (*flush)(int fd);                   // fdatasync
  int (*truncate)(int fd, off_t length);  // ftruncate
  int (*reserve)(int fd, off_t length);   // blocks for `length` bytes, size unchanged
  int (*close)(int fd);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*lock)(int fd, struct flock* lock);  // fcntl(fd, F_OFD_SETLK, lock): does not wait
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t owner, gid_t group);
  int (*rename)(const char* from, const char* to);
  int (*renameNoReplace)(const char* from, const char* to);  // fails with EEXIST
  int (*link)(const char* from, const char* to);
  int (*unlink)(const char* path);
};

const ProfileSystem& realProfileSystem();
ProfileSystem& profileSystem();

}  // namespace quorvel
