#include "win32/SafeFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>  // renameat2
#include <cstdlib>
#include <random>
#include <string>

#include "posix/RegularFile.h"

namespace vimo::platform {
namespace {

// A name beside path that nobody else can have guessed: hidden, with a random part.
std::string SiblingName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937 random{std::random_device{}()};
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string unique = std::to_string(counter++) + "-";
  for (int i = 0; i < 8; ++i) unique += kLetters[random() % (sizeof(kLetters) - 1)];
  return folder + "." + name + "." + unique;
}

// Renames from to to, failing with EEXIST where to exists. Where the file system lacks the flag,
// a hard link does the same (it fails on an existing name too).
bool RenameWithoutReplacing(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (link(from, to) != 0) return false;
  unlink(from);
  return true;
}

}  // namespace

bool ReplaceFileAtomically(const char* path, std::string_view bytes, unsigned newFileMode, ReplaceOptions options) {
  if (path == nullptr || *path == '\0') return false;
  struct stat old {};
  const bool keepMode = !options.bNewMode && lstat(path, &old) == 0 && S_ISREG(old.st_mode);
  std::string sibling;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    sibling = SiblingName(path);
    fd = open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, newFileMode & 07777);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool written = vimo::posix::WriteAll(fd, bytes) && (!keepMode || fchmod(fd, old.st_mode & 07777) == 0) &&
                 (!options.bFlush || fsync(fd) == 0);
  written = close(fd) == 0 && written;
  if (written && (options.bNoReplace ? RenameWithoutReplacing(sibling.c_str(), path) : rename(sibling.c_str(), path) == 0))
    return true;
  const int error = errno;  // the caller learns why, not what the clean-up said
  unlink(sibling.c_str());
  errno = error;
  return false;
}

bool RewriteFileAtomically(const char* path, std::string_view bytes) {
  char resolved[PATH_MAX];
  if (path == nullptr || realpath(path, resolved) == nullptr) return false;
  struct stat info {};
  if (stat(resolved, &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = EINVAL;
    return false;
  }
  if (access(resolved, W_OK) != 0) return false;
  return ReplaceFileAtomically(resolved, bytes, info.st_mode & 07777);
}

bool IsOwnFolder(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
         (info.st_mode & 022) == 0;
}

bool MakePrivateFolder(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder == "/") return false;
  // Missing parents (such as ~/.cache) are the user's own folders: made, not judged. A mkdir
  // where a folder exists fails harmlessly.
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    mkdir(folder.substr(0, slash).c_str(), 0700);
  }
  mkdir(folder.c_str(), 0700);
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return false;
  return (info.st_mode & 077) == 0 || chmod(folder.c_str(), 0700) == 0;
}

}  // namespace vimo::platform
