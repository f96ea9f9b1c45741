// A read-only mapping of a file's bytes, for showing a converted image without copying it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "win32/WinTypes.h"

namespace vimo::platform {

// The bytes of an open regular file from an offset to its end, as its size was when mapped.
// Pages are read only when touched. The file must not shrink while it is mapped (a read past
// its new end would fault): the program maps only files it wrote in full and never rewrites,
// since new versions are renamed into place. Removing the file does not disturb the mapping.
// A descriptor of the file stays open with the mapping, for reads that must survive a file cut
// short under it (they come back short instead of faulting).
class MappedFile {
 public:
  MappedFile() = default;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Maps file (left open for the caller to close) from offset on. An empty mapping when that
  // fails, with errno ENOMEM when there is no room for it; a file no longer than offset maps as
  // an empty mapping too, with errno 0.
  static MappedFile Map(std::FILE* file, std::size_t offset);

  const BYTE* get() const { return m_pBytes; }
  std::size_t size() const { return m_nSize; }
  // The mapped file's descriptor (-1 for an empty mapping) and the file offset of get().
  int descriptor() const { return m_fd; }
  std::size_t offset() const { return m_nOffset; }
  // Reads up to size bytes of the mapped file from file offset at into buffer, through the
  // descriptor: a file cut short since it was mapped gives fewer bytes, never a fault. Returns
  // the bytes read.
  std::size_t ReadAt(std::uint64_t at, void* buffer, std::size_t size) const;
  void reset();

  friend bool operator==(const MappedFile& mapping, std::nullptr_t) { return mapping.m_pBytes == nullptr; }

 private:
  void* m_pBase = nullptr;  // the mapping, from the file's start (mappings start on a page)
  std::size_t m_nLength = 0;
  const BYTE* m_pBytes = nullptr;  // m_pBase + offset
  std::size_t m_nSize = 0;
  std::size_t m_nOffset = 0;
  int m_fd = -1;  // owned: closed with the mapping
};

}  // namespace vimo::platform
