#include "win32/FileMoves.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat2
#include <string>
#include <vector>

#include "posix/RegularFile.h"
#include "posix/UniqueFd.h"
#include "win32/Kernel.h"

namespace vimo::platform {

namespace {

// Copies every byte of source into target, flushes target and checks that it holds expected
// bytes; 0 or errno's reason.
int CopyBytes(int source, int target, off_t expected) {
  std::vector<char> buffer(1 << 16);
  off_t copied = 0;
  for (;;) {
    const ssize_t got = read(source, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    if (!vimo::posix::WriteAll(target, std::string_view(buffer.data(), static_cast<std::size_t>(got)))) return errno;
    copied += got;
  }
  if (fsync(target) != 0) return errno;
  struct stat written {};
  if (fstat(target, &written) != 0) return errno;
  return copied == expected && written.st_size == expected ? 0 : EIO;
}

}  // namespace

bool NameTaken(const char* path) {
  struct stat info {};
  return lstat(path, &info) == 0;
}

int RenameFile(const char* from, const char* to, bool bReplace) {
  if (bReplace) return rename(from, to) == 0 ? 0 : errno;
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the flag: a link never replaces, and the old name goes once it holds.
  if (link(from, to) != 0) return errno;
  if (unlink(from) == 0) return 0;
  const int error = errno;
  unlink(to);
  return error;
}

int CopyFileWhole(const char* from, const char* to, bool bReplace) {
  struct stat info {};
  const vimo::posix::UniqueFd source = vimo::posix::OpenRegularFd(from, &info);
  if (!source.valid()) return errno != 0 ? errno : ENOENT;
  if (!bReplace && NameTaken(to)) return EEXIST;
  const std::string fresh = CreateFreshFileFor(to);
  if (fresh.empty()) return errno != 0 ? errno : EIO;
  int error = 0;
  {
    const vimo::posix::UniqueFd target(open(fresh.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
    if (!target.valid()) error = errno;
    if (error == 0) error = CopyBytes(source.get(), target.get(), info.st_size);
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (error == 0 && (fchmod(target.get(), info.st_mode & 07777) != 0 || futimens(target.get(), times) != 0)) error = errno;
  }
  if (error == 0) error = RenameFile(fresh.c_str(), to, bReplace);
  if (error != 0) unlink(fresh.c_str());
  return error;
}

int MoveFileWhole(const char* from, const char* to, bool bReplace) {
  const int error = RenameFile(from, to, bReplace);
  if (error != EXDEV) return error;
  const int copyError = CopyFileWhole(from, to, bReplace);
  if (copyError != 0) return copyError;
  if (unlink(from) == 0) return 0;
  // The original cannot go (a folder that may not be written): the copy goes instead.
  const int unlinkError = errno;
  unlink(to);
  return unlinkError;
}

}  // namespace vimo::platform
