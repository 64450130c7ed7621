#include "profile/profile_system.hpp"

#include <stdio.h>
#include <unistd.h>

namespace quorvel {
namespace {

const ProfileSystem kReal{
    [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    ::read,
    ::write,
    ::pwrite,
    ::fdatasync,
    ::ftruncate,
    [](int fd, off_t length) { return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length); },
    ::close,
    ::fstat,
    ::stat,
    ::lstat,
    [](int fd, struct flock* lock) { return ::fcntl(fd, F_OFD_SETLK, lock); },
    ::fchmod,
    ::fchown,
    ::rename,
    [](const char* from, const char* to) {
      return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    },
    ::link,
    ::unlink,
};

ProfileSystem active = kReal;

}  // namespace

const ProfileSystem& realProfileSystem() {
  return kReal;
}
ProfileSystem& profileSystem() {
  return active;
}

}  // namespace quorvel
