#include "convert/MagickLibrary.h"

#include <algorithm>

namespace vimo::convert {
namespace {

void IgnoreReport(const ExceptionType /*severity*/, const char* /*reason*/, const char* /*description*/) {}

// Lives from the first conversion to the end of the process; its construction is the
// thread-safe one-time start of the library.
class CMagickLibrary {
 public:
  CMagickLibrary() {
    MagickCoreGenesis(nullptr, MagickFalse);  // the program keeps its own signal handling
    SetWarningHandler(IgnoreReport);
    SetErrorHandler(IgnoreReport);
  }
  ~CMagickLibrary() { MagickCoreTerminus(); }
  CMagickLibrary(const CMagickLibrary&) = delete;
  CMagickLibrary& operator=(const CMagickLibrary&) = delete;
};

}  // namespace

void EnsureImageLibrary() {
  static const CMagickLibrary library;
}

bool ImageListBuilder::Append(ImageListPtr image) {
  // Pixels as the library keeps them, colour-map indexes, and the image record itself.
  constexpr MagickSizeType kPerImage = 32 * 1024;
  const MagickSizeType pixels = static_cast<MagickSizeType>(image->columns) * image->rows;
  const MagickSizeType bytes = pixels * (sizeof(PixelPacket) + sizeof(IndexPacket)) + kPerImage;
  const MagickSizeType memory = GetMagickResourceLimit(MemoryResource);
  const MagickSizeType disk = GetMagickResourceLimit(DiskResource);
  const MagickSizeType budget = memory > MagickResourceInfinity - disk ? MagickResourceInfinity : memory + disk;
  if (bytes > budget - std::min(m_bytes, budget)) return false;
  m_bytes += bytes;
  Image* appended = image.release();
  if (m_tail == nullptr) {
    m_head.reset(appended);
  } else {
    AppendImageToList(&m_tail, appended);  // from the tail: no walk along the list
  }
  m_tail = appended;
  return true;
}

Image* ImageListBuilder::Release() {
  m_tail = nullptr;
  m_bytes = 0;
  return m_head.release();
}

}  // namespace vimo::convert

