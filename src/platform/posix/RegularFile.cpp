#include "posix/RegularFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vimo::posix {
namespace {

// Whether status is a regular file's; otherwise errno says what it is instead.
bool IsRegular(const struct stat& status) {
  if (S_ISREG(status.st_mode)) return true;
  errno = S_ISDIR(status.st_mode) ? EISDIR : ENXIO;
  return false;
}

// Closes file without letting the close change errno, which still says why the open failed.
UniqueFd Refuse(UniqueFd& file) {
  const int reason = errno;
  file.reset();
  errno = reason;
  return UniqueFd();
}

}  // namespace

UniqueFd OpenRegularFd(const char* path, struct stat* info) {
  if (path == nullptr) {
    errno = EINVAL;
    return UniqueFd();
  }
  struct stat status {};
  if (stat(path, &status) != 0 || !IsRegular(status)) return UniqueFd();
  UniqueFd file(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid()) return file;
  if (fstat(file.get(), &status) != 0 || !IsRegular(status)) return Refuse(file);
  const int flags = fcntl(file.get(), F_GETFL);
  if (flags < 0 || fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return Refuse(file);
  if (info != nullptr) *info = status;
  return file;
}

std::uint64_t ReadFullyAt(int fd, iovec* iov, int count, std::uint64_t offset) {
  std::uint64_t total = 0;
  while (count > 0) {
    const ssize_t got = preadv(fd, iov, count, static_cast<off_t>(offset + total));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::uint64_t>(got);
    auto left = static_cast<std::size_t>(got);
    for (; count > 0 && left >= iov->iov_len; --count, ++iov) left -= iov->iov_len;
    if (count > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + left;
      iov->iov_len -= left;
    }
  }
  return total;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (put == 0) errno = EIO;  // nothing taken and no reason given: it would never end
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace vimo::posix
