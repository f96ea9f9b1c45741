#include "win32/MappedFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "posix/RegularFile.h"

namespace vimo::platform {

MappedFile::MappedFile(MappedFile&& other) noexcept { *this = std::move(other); }

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this == &other) return *this;
  reset();
  m_pBase = std::exchange(other.m_pBase, nullptr);
  m_nLength = std::exchange(other.m_nLength, 0);
  m_pBytes = std::exchange(other.m_pBytes, nullptr);
  m_nSize = std::exchange(other.m_nSize, 0);
  m_nOffset = std::exchange(other.m_nOffset, 0);
  m_fd = std::exchange(other.m_fd, -1);
  return *this;
}

MappedFile::~MappedFile() { reset(); }

void MappedFile::reset() {
  if (m_pBase != nullptr) munmap(m_pBase, m_nLength);
  m_pBase = nullptr;
  m_nLength = 0;
  m_pBytes = nullptr;
  m_nSize = 0;
  m_nOffset = 0;
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

std::size_t MappedFile::ReadAt(std::uint64_t at, void* buffer, std::size_t size) const {
  if (m_fd < 0) return 0;
  iovec part{buffer, size};
  return static_cast<std::size_t>(vimo::posix::ReadFullyAt(m_fd, &part, 1, at));
}

MappedFile MappedFile::Map(std::FILE* file, std::size_t offset) {
  MappedFile mapping;
  struct stat info {};
  if (file == nullptr || fstat(fileno(file), &info) != 0) return mapping;
  // The size of the file that is open now, not of whatever the name meant earlier.
  const auto length = static_cast<std::size_t>(info.st_size);
  if (info.st_size < 0 || length <= offset) {
    errno = 0;
    return mapping;
  }
  const int fd = fcntl(fileno(file), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return mapping;
  void* base = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
  if (base == MAP_FAILED) {
    const int error = errno;
    close(fd);
    errno = error;
    return mapping;
  }
  mapping.m_pBase = base;
  mapping.m_nLength = length;
  mapping.m_pBytes = static_cast<const BYTE*>(base) + offset;
  mapping.m_nSize = length - offset;
  mapping.m_nOffset = offset;
  mapping.m_fd = fd;
  return mapping;
}

}  // namespace vimo::platform
