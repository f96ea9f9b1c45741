#include "win32/MappedFile.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace vimo::platform {

MappedFile::MappedFile(MappedFile&& other) noexcept { *this = std::move(other); }

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this == &other) return *this;
  reset();
  m_pBase = std::exchange(other.m_pBase, nullptr);
  m_nLength = std::exchange(other.m_nLength, 0);
  m_pBytes = std::exchange(other.m_pBytes, nullptr);
  m_nSize = std::exchange(other.m_nSize, 0);
  return *this;
}

MappedFile::~MappedFile() { reset(); }

void MappedFile::reset() {
  if (m_pBase != nullptr) munmap(m_pBase, m_nLength);
  m_pBase = nullptr;
  m_nLength = 0;
  m_pBytes = nullptr;
  m_nSize = 0;
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
  void* base = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fileno(file), 0);
  if (base == MAP_FAILED) return mapping;
  mapping.m_pBase = base;
  mapping.m_nLength = length;
  mapping.m_pBytes = static_cast<const BYTE*>(base) + offset;
  mapping.m_nSize = length - offset;
  return mapping;
}

}  // namespace vimo::platform
