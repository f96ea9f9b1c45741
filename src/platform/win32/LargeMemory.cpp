#include "win32/LargeMemory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace vimo::platform {
namespace {

// Blocks of this size or more start on a huge page.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// The advice that populates pages writable (Linux 5.14), where the C library does not name it yet.
#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kPopulateWrite = 23;
#endif

}  // namespace

void* AllocateLarge(std::size_t bytes) {
  void* p = nullptr;
  const std::size_t alignment = bytes >= kHugePage ? kHugePage : 64;
  const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  if (rounded < bytes || posix_memalign(&p, alignment, rounded) != 0) return nullptr;
  if (alignment == kHugePage) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages are ordinary
  return p;
}

void PrepareForWriting(const void* p, std::size_t bytes) {
  const long page = sysconf(_SC_PAGESIZE);
  if (p == nullptr || page <= 0) return;
  const auto size = static_cast<std::uintptr_t>(page);
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  if (bytes > UINTPTR_MAX - begin) return;
  // Only pages wholly inside: their neighbours may belong to something else, or to nothing.
  const std::uintptr_t first = (begin + size - 1) / size * size;
  const std::uintptr_t last = (begin + bytes) / size * size;
  // An older kernel refuses the advice (EINVAL), and so may a sandbox; either way nothing changes.
  if (last > first) (void)madvise(reinterpret_cast<void*>(first), last - first, kPopulateWrite);
}

QImage LargeImage(QSize size) {
  if (size.isEmpty()) return QImage();
  const qsizetype bytesPerLine = 4 * static_cast<qsizetype>(size.width());
  const std::size_t bytes = static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(size.height());
  void* p = AllocateLarge(bytes);
  if (p == nullptr) return QImage();
  return QImage(static_cast<uchar*>(p), size.width(), size.height(), bytesPerLine, QImage::Format_RGB32, &std::free, p);
}

}  // namespace vimo::platform
