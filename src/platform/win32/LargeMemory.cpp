#include "win32/LargeMemory.h"

#include <sys/mman.h>

namespace vimo::platform {
namespace {

// Blocks of this size or more start on a huge page.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* AllocateLarge(std::size_t bytes) {
  void* p = nullptr;
  const std::size_t alignment = bytes >= kHugePage ? kHugePage : 64;
  const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  if (rounded < bytes || posix_memalign(&p, alignment, rounded) != 0) return nullptr;
  if (alignment == kHugePage) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages are ordinary
  return p;
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
