#include "win32/DrawDib.h"

#include <QImage>
#include <QPainter>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "afx/Wnd.h"
#include "posix/RegularFile.h"
#include "posix/UniqueFd.h"
#include "win32/DibLayout.h"

using vimo::platform::AxisTaps;
using vimo::platform::MakeAxisTaps;
using vimo::platform::Orientation;
using vimo::platform::PackedRows;
using vimo::platform::RowFetch;
using vimo::platform::ScaleRows;

namespace {

// Memory of megabytes is asked for in huge pages where the system gives them on request: a
// first paint touches several megabytes of fresh memory, and on a virtual machine a fault per
// 4 KiB page costs more than the drawing itself.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// bytes of memory, aligned for any pixel; NULL when there is none. Released with std::free.
void* AllocateLarge(std::size_t bytes) {
  void* p = nullptr;
  const std::size_t alignment = bytes >= kHugePage ? kHugePage : 64;
  const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
  if (rounded < bytes || posix_memalign(&p, alignment, rounded) != 0) return nullptr;
  if (alignment == kHugePage) madvise(p, rounded, MADV_HUGEPAGE);  // a hint: refused, the pages are ordinary
  return p;
}

template <class T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <class U>
  explicit LargeAllocator(const LargeAllocator<U>&) {}
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* p = AllocateLarge(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) { std::free(p); }
  bool operator==(const LargeAllocator&) const { return true; }
};
using LargeBytes = std::vector<BYTE, LargeAllocator<BYTE>>;

// A 32-bit image of size in such memory; a null image when there is no memory for it.
QImage LargeImage(QSize size) {
  if (size.isEmpty()) return QImage();
  const qsizetype bytesPerLine = 4 * static_cast<qsizetype>(size.width());
  const std::size_t bytes = static_cast<std::size_t>(bytesPerLine) * static_cast<std::size_t>(size.height());
  void* p = AllocateLarge(bytes);
  if (p == nullptr) return QImage();
  return QImage(static_cast<uchar*>(p), size.width(), size.height(), bytesPerLine, QImage::Format_RGB32, &std::free, p);
}

// Buffers that reading rows from a file reuses from one drawing to the next: fresh memory costs
// a page fault per page touched.
struct FetchBuffers {
  LargeBytes staged;
  std::vector<BYTE> skipped;  // file bytes between the wanted parts of rows: read and dropped
  std::vector<BYTE> converted;
};

// What a scaled or turned drawing showed, so that a repaint of the same can copy it.
struct ViewKey {
  std::uint64_t generation = 0;
  const void* lpbi = nullptr;
  int xSrc = 0, ySrc = 0, dxSrc = 0, dySrc = 0, dxDst = 0, dyDst = 0, orientation = 0, elementSize = 0;
  friend bool operator==(const ViewKey&, const ViewKey&) = default;
};

}  // namespace

struct HDRAWDIB__ {
  const BYTE* pBlock = nullptr;
  std::size_t cbBlock = 0;
  // The file the block was mapped from (not owned; -1 for a block of memory) and where in it
  // the block starts.
  int fd = -1;
  std::uint64_t fileOffset = 0;
  // Run-length rows decoded to one byte per pixel, once per bitmap.
  QImage decoded;
  const void* pDecodedFor = nullptr;
  // The visible part in 32-bit colour, and the stored bytes it is made from, kept from paint to
  // paint so that their memory is reused.
  QImage piece;
  FetchBuffers io;
  // The caller's reduced copies of the bitmap at pCopiesFor, finest first.
  std::vector<DRAWDIBCOPY> copies;
  const void* pCopiesFor = nullptr;
  // The copy of rows in memory that the last reader took, reused once no reader holds it.
  std::shared_ptr<LargeBytes> rowsCopy;
  // The last scaled or turned drawing (its rectangle relative to the destination's corner), and
  // the scratch piece of a turned one.
  std::uint64_t generation = 0;
  QImage cache;
  QRect cacheRect;
  ViewKey cacheKey;
  QImage turned;
};

namespace {

// Decoding buffers are refused beyond this many pixels.
constexpr std::uint64_t kMaxDecodedPixels = 64ull * 1024 * 1024;
// Rows whose visible parts lie at most this many bytes apart in the file are read in one call,
// the bytes between them included.
constexpr std::uint64_t kMaxSkipped = 64 * 1024;

struct Bitmap {
  int width = 0;
  int height = 0;       // absolute
  bool bottomUp = true;
  int bitCount = 0;
  DWORD compression = BI_RGB;
  const BYTE* bits = nullptr;
  std::size_t available = 0;  // bytes from bits to the end of the block
  std::uint64_t stride = 0;
  QList<QRgb> colors;
  DWORD masks[3] = {0, 0, 0};
};

DWORD ReadDword(const BYTE* p) {
  DWORD value;
  std::memcpy(&value, p, 4);
  return value;
}

bool Describe(const HDRAWDIB__& dd, const BITMAPINFOHEADER* lpbi, const void* lpBits, Bitmap& bm) {
  const BYTE* header = reinterpret_cast<const BYTE*>(lpbi);
  const BYTE* bits = static_cast<const BYTE*>(lpBits);
  const BYTE* end = dd.pBlock + dd.cbBlock;
  if (dd.pBlock == nullptr || header < dd.pBlock || header > end) return false;
  const vimo::platform::DibLayout layout = vimo::platform::ReadDibLayout(header, static_cast<std::size_t>(end - header));
  if (layout.kind != vimo::platform::DibHeaderKind::kCore && layout.kind != vimo::platform::DibHeaderKind::kInfo) return false;
  if (layout.width <= 0 || layout.height == 0 || layout.height == INT32_MIN) return false;
  if (bits < dd.pBlock || bits > end) return false;
  bm.width = layout.width;
  bm.height = layout.bottomUp ? layout.height : -layout.height;
  bm.bottomUp = layout.bottomUp;
  bm.bitCount = layout.bitCount;
  bm.compression = layout.compression;
  bm.bits = bits;
  bm.available = static_cast<std::size_t>(end - bits);
  bm.stride = layout.stride;
  if (bm.bitCount <= 8) {
    // 256 entries whatever the depth, so that any byte of decoded run-length rows has a colour.
    bm.colors.fill(qRgb(0, 0, 0), 256);
    const std::uint64_t tableAt = static_cast<std::uint64_t>(header - dd.pBlock) + layout.colorTableOffset;
    for (std::uint64_t i = 0; i < layout.PaletteEntries(); ++i) {
      const std::uint64_t at = tableAt + layout.colorEntrySize * i;
      if (at + layout.colorEntrySize > dd.cbBlock) break;
      const BYTE* q = dd.pBlock + at;
      bm.colors[static_cast<int>(i)] = qRgb(q[2], q[1], q[0]);
    }
  }
  if (bm.compression == BI_BITFIELDS) {
    if (!layout.hasMasks) return false;
    std::copy(std::begin(layout.masks), std::end(layout.masks), bm.masks);
  }
  switch (bm.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32: return true;
    default: return false;
  }
}

// Decodes RLE8 or RLE4 rows into an 8-bit image in stored order (row 0 first as stored).
QImage DecodeRle(const Bitmap& bm) {
  QImage image(bm.width, bm.height, QImage::Format_Indexed8);
  if (image.isNull()) return image;
  image.fill(0);
  const auto width = static_cast<std::size_t>(bm.width);
  const auto height = static_cast<std::size_t>(bm.height);
  vimo::platform::DecodeRunLengthRows(bm.bits, bm.bits + bm.available, bm.compression == BI_RLE4, height,
                                      [&](std::size_t x, std::size_t row, BYTE index) {
                                        if (x < width && row < height) image.scanLine(static_cast<int>(row))[x] = index;
                                      });
  return image;
}

// One channel of a bit-field pixel: where it sits and how many steps it has.
struct Channel {
  DWORD mask = 0;
  int shift = 0;
  DWORD max = 0;
};

Channel ChannelOf(DWORD mask) {
  Channel channel{mask, 0, 0};
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++channel.shift;
  }
  channel.max = mask;
  return channel;
}

BYTE Scale(DWORD value, const Channel& c) {
  return c.max == 0 ? 0 : static_cast<BYTE>(((value & c.mask) >> c.shift) * 255u / c.max);
}

// Where the stored rows are read from: the block itself, or the decoded copy of run-length rows.
struct Rows {
  const BYTE* first = nullptr;
  std::uint64_t stride = 0;
  int count = 0;  // whole rows available, in stored order
  int bitCount = 0;
  bool inBlock = false;
};

// The bytes of a stored row that hold columns x .. x + n, and the first column's place in its
// byte (pixels of 1 and 4 bits share bytes, the first one in the high bits).
struct Span {
  std::size_t first = 0;
  std::size_t length = 0;
  int phase = 0;
};

Span SpanOf(int x, int n, int bitCount) {
  if (bitCount <= 0) return Span();
  const std::size_t bits = static_cast<std::size_t>(bitCount);
  const std::size_t first = static_cast<std::size_t>(x) * bits / 8;
  const std::size_t end = (static_cast<std::size_t>(x + n) * bits + 7) / 8;
  return Span{first, end - first, bitCount < 8 ? x % (8 / bitCount) : 0};
}

// Converts n pixels of a stored row to 32-bit colour, straight into the painted piece. src is the
// byte that holds the first pixel, phase that pixel's place in it.
class RowConverter {
 public:
  RowConverter(const Bitmap& bm, int bitCount) : m_bm(bm), m_bitCount(bitCount) {
    for (int i = 0; i < 3; ++i) m_channels[i] = ChannelOf(bm.masks[i]);
    m_bitFields = bm.compression == BI_BITFIELDS;
  }

  void operator()(const BYTE* src, int phase, int n, QRgb* dst) const {
    const QRgb* palette = m_bm.colors.constData();
    switch (m_bitCount) {
      case 1:
        for (int i = 0, x = phase; i < n; ++i, ++x) dst[i] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
        return;
      case 4:
        for (int i = 0, x = phase; i < n; ++i, ++x) dst[i] = palette[(x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4)];
        return;
      case 8:
        for (int i = 0; i < n; ++i) dst[i] = palette[src[i]];
        return;
      case 16: return Convert16(src, n, dst);
      case 24: return Convert24(src, n, dst);
      default: return Convert32(src, n, dst);
    }
  }

 private:
  void Convert16(const BYTE* src, int n, QRgb* dst) const {
    for (int i = 0; i < n; ++i, src += 2) {
      const DWORD value = static_cast<DWORD>(src[0] | (src[1] << 8));
      if (m_bitFields) {
        dst[i] = qRgb(Scale(value, m_channels[0]), Scale(value, m_channels[1]), Scale(value, m_channels[2]));
      } else {
        // 5-5-5: each channel's top bits repeated into the low ones, as Qt widens them.
        const int r = (value >> 10) & 0x1F, g = (value >> 5) & 0x1F, b = value & 0x1F;
        dst[i] = qRgb((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
      }
    }
  }

  // Blue, green, red bytes to 0xFFRRGGBB: four pixels (three 32-bit words) at a time. Safe in
  // place with the source at the end of the destination's line (a 1:1 drawing reads its rows
  // there): each group is read whole before it is written, and writes stay behind the reads.
  static void Convert24(const BYTE* src, int n, QRgb* dst) {
    int i = 0;
    for (; i + 4 <= n; i += 4, src += 12) {
      std::uint32_t w[3];
      std::memcpy(w, src, sizeof(w));
      dst[i] = 0xFF000000u | (w[0] & 0xFFFFFFu);
      dst[i + 1] = 0xFF000000u | (w[0] >> 24) | ((w[1] & 0xFFFFu) << 8);
      dst[i + 2] = 0xFF000000u | (w[1] >> 16) | ((w[2] & 0xFFu) << 16);
      dst[i + 3] = 0xFF000000u | (w[2] >> 8);
    }
    for (; i < n; ++i, src += 3) dst[i] = qRgb(src[2], src[1], src[0]);
  }

  void Convert32(const BYTE* src, int n, QRgb* dst) const {
    for (int i = 0; i < n; ++i, src += 4) {
      const DWORD value = ReadDword(src);
      dst[i] = m_bitFields ? qRgb(Scale(value, m_channels[0]), Scale(value, m_channels[1]), Scale(value, m_channels[2]))
                           : 0xFF000000u | (value & 0xFFFFFFu);
    }
  }

  const Bitmap& m_bm;
  int m_bitCount;
  bool m_bitFields = false;
  Channel m_channels[3];
};

// The stored rows that can be read, or none (count 0) for a layout that is not drawn.
// Run-length rows are decoded once per bitmap, into one byte per pixel.
Rows StoredRows(HDRAWDIB__& dd, const BITMAPINFOHEADER* lpbi, const Bitmap& bm) {
  const bool compressed = bm.compression == BI_RLE8 || bm.compression == BI_RLE4;
  if (compressed && (bm.compression == BI_RLE8 ? bm.bitCount != 8 : bm.bitCount != 4)) return Rows();
  if (!compressed && bm.compression != BI_RGB && bm.compression != BI_BITFIELDS) return Rows();
  // Masks describe 16- and 32-bit pixels; other depths would be read four bytes a pixel.
  if (bm.compression == BI_BITFIELDS && bm.bitCount != 16 && bm.bitCount != 32) return Rows();
  if (!compressed) {
    const std::uint64_t fullRows = bm.stride == 0 ? 0 : bm.available / bm.stride;
    return Rows{bm.bits, bm.stride, static_cast<int>(std::min<std::uint64_t>(fullRows, static_cast<std::uint64_t>(bm.height))),
                bm.bitCount, true};
  }
  if (dd.pDecodedFor != lpbi || dd.decoded.isNull()) {
    if (static_cast<std::uint64_t>(bm.width) * static_cast<std::uint64_t>(bm.height) > kMaxDecodedPixels) return Rows();
    dd.decoded = DecodeRle(bm);
    dd.pDecodedFor = lpbi;
  }
  if (dd.decoded.isNull()) return Rows();
  return Rows{dd.decoded.constBits(), static_cast<std::uint64_t>(dd.decoded.bytesPerLine()), dd.decoded.height(), 8, false};
}

// Reads the bytes span of the stored rows first .. first + count - 1 from fd, the file the block
// was mapped from, row first + i into into(i), and returns how many whole rows arrived, in file
// order: a file cut short since it was mapped gives a short read, never a fault, and the rows it
// no longer holds are left out. The rows lie one stride apart in the file, so one preadv reads
// many of them, the bytes between their spans into skipped; rows further apart than kMaxSkipped
// are read one call each.
template <class Into>
int ReadRowsInto(int fd, Into into, std::vector<BYTE>& skipped, std::uint64_t rowsAt, std::uint64_t stride, Span span,
                 int first, int count) {
  if (count <= 0 || span.length == 0) return 0;
  const std::uint64_t gap = stride - span.length;
  const bool joined = gap <= kMaxSkipped;
  if (joined && gap > skipped.size()) skipped.resize(static_cast<std::size_t>(gap));
  const int rowsPerCall = !joined ? 1 : gap == 0 ? IOV_MAX : (IOV_MAX + 1) / 2;
  std::vector<iovec> iov;
  int arrived = 0;
  while (arrived < count) {
    const int rows = std::min(count - arrived, rowsPerCall);
    iov.clear();
    for (int i = 0; i < rows; ++i) {
      if (i > 0 && gap > 0) iov.push_back({skipped.data(), static_cast<std::size_t>(gap)});
      iov.push_back({into(arrived + i), span.length});
    }
    const std::uint64_t at = rowsAt + stride * static_cast<std::uint64_t>(first + arrived) + span.first;
    const std::uint64_t got = vimo::posix::ReadFullyAt(fd, iov.data(), static_cast<int>(iov.size()), at);
    // Row i ends i strides and one span after the start.
    const int whole = got < span.length ? 0 : static_cast<int>(std::min<std::uint64_t>((got - span.length) / stride + 1, rows));
    arrived += whole;
    if (whole < rows) break;
  }
  return arrived;
}

// The same into staged, one row after another.
int ReadRows(int fd, LargeBytes& staged, std::vector<BYTE>& skipped, std::uint64_t rowsAt, std::uint64_t stride,
             Span span, int first, int count) {
  if (count <= 0 || span.length == 0) return 0;
  staged.resize(span.length * static_cast<std::size_t>(count));
  const auto into = [&staged, &span](int i) { return staged.data() + span.length * static_cast<std::size_t>(i); };
  return ReadRowsInto(fd, into, skipped, rowsAt, stride, span, first, count);
}

// Where the rows of a bitmap are read from, with what it takes to read them on another thread:
// the rows in memory (the block's, or decoded run-length rows kept alive by `keep`), or the file
// through fd.
struct SourceRows {
  Bitmap bm;
  Rows rows;
  int fd = -1;
  std::uint64_t rowsAt = 0;  // file offset of stored row 0
  QImage keep;
};

// Gives the rows of a bitmap, top row first, as the scaler reads them: the bytes of columns
// first .. first + count - 1, three (24 bits) or four (32 bits) bytes a pixel as stored, other
// layouts converted to 32-bit colour. File rows are read a batch at a time.
class SourceFetcher {
 public:
  SourceFetcher(const SourceRows& source, int first, int count, FetchBuffers& buffers)
      : m_source(source), m_convert(source.bm, source.rows.bitCount), m_count(count), m_buffers(buffers) {
    const int bits = source.rows.bitCount;
    m_raw = (bits == 24 || bits == 32) && source.bm.compression == BI_RGB;
    m_span = SpanOf(first, count, bits);
    if (!m_raw) m_buffers.converted.resize(static_cast<std::size_t>(count) * 4);
  }
  int BytesPerPixel() const { return m_raw && m_source.rows.bitCount == 24 ? 3 : 4; }

  const BYTE* operator()(int row) {
    if (row < 0 || row >= m_source.bm.height || m_count <= 0) return nullptr;
    const int stored = m_source.bm.bottomUp ? m_source.bm.height - 1 - row : row;
    if (stored >= m_source.rows.count) return nullptr;
    const BYTE* bytes = m_source.rows.inBlock && m_source.fd >= 0 ? FromFile(stored)
                                                                  : m_source.rows.first + m_source.rows.stride * static_cast<std::uint64_t>(stored) + m_span.first;
    if (bytes == nullptr || m_raw) return bytes;
    m_convert(bytes, m_span.phase, m_count, reinterpret_cast<QRgb*>(m_buffers.converted.data()));
    return m_buffers.converted.data();
  }

 private:
  // Reads a batch of stored rows around `stored` when it is not read yet: below it for rows
  // stored bottom-up (they are asked for top row first), above it otherwise.
  const BYTE* FromFile(int stored) {
    if (stored < m_batchFirst || stored >= m_batchFirst + m_batchArrived) {
      const int batch = static_cast<int>(std::clamp<std::size_t>((512u << 10) / std::max<std::size_t>(m_span.length, 1), 8, 512));
      const int first = m_source.bm.bottomUp ? std::max(0, stored - batch + 1) : stored;
      const int count = std::min(batch, m_source.rows.count - first);
      m_batchFirst = first;
      m_batchArrived = ReadRows(m_source.fd, m_buffers.staged, m_buffers.skipped, m_source.rowsAt, m_source.rows.stride, m_span, first, count);
      if (stored >= m_batchFirst + m_batchArrived) return nullptr;  // the file is shorter now
    }
    return m_buffers.staged.data() + m_span.length * static_cast<std::size_t>(stored - m_batchFirst);
  }

  const SourceRows& m_source;
  RowConverter m_convert;
  int m_count;
  FetchBuffers& m_buffers;
  bool m_raw = false;
  Span m_span;
  int m_batchFirst = 0;
  int m_batchArrived = 0;
};

// The copy given for lpbi (a bitmap w x h) that a drawing taking `reduce` source pixels into one
// should be made from: the coarsest whose pixels are no larger than that; NULL to read the bitmap
// itself. A copy whose size does not fit the bitmap is passed over.
const DRAWDIBCOPY* CopyFor(const HDRAWDIB__* hdd, const void* lpbi, const Bitmap& bm, double reduce, bool finest = false) {
  if (hdd->pCopiesFor != lpbi) return nullptr;
  const DRAWDIBCOPY* chosen = nullptr;
  for (const DRAWDIBCOPY& copy : hdd->copies) {
    const std::int64_t k = copy.nFactor;
    const bool fits = k >= 2 && copy.lpBits != nullptr && copy.nWidth == (bm.width + k - 1) / k && copy.nHeight == (bm.height + k - 1) / k;
    if (!fits || (!finest && copy.nFactor > reduce * (1 + 1e-9))) continue;
    chosen = &copy;
    if (finest) break;
  }
  return chosen;
}

// Rectangle r of a picture shown w x h, in the picture as stored (w and h swapped when turned).
QRect StoredRect(const Orientation& o, const QRect& r, int w, int h) {
  const int storedW = o.transposed ? h : w;
  const int storedH = o.transposed ? w : h;
  const int x0 = o.transposed ? r.top() : r.left();
  const int x1 = o.transposed ? r.bottom() + 1 : r.right() + 1;
  const int y0 = o.transposed ? r.left() : r.top();
  const int y1 = o.transposed ? r.right() + 1 : r.bottom() + 1;
  const int left = o.mirrorX ? storedW - x1 : x0;
  const int top = o.mirrorY ? storedH - y1 : y0;
  return QRect(left, top, x1 - x0, y1 - y0);
}

// The parts of a that lie outside b.
std::vector<QRect> Outside(const QRect& a, const QRect& b) {
  const QRect common = a.intersected(b);
  if (common.isEmpty()) return {a};
  std::vector<QRect> parts;
  if (common.top() > a.top()) parts.emplace_back(a.left(), a.top(), a.width(), common.top() - a.top());
  if (common.bottom() < a.bottom()) parts.emplace_back(a.left(), common.bottom() + 1, a.width(), a.bottom() - common.bottom());
  if (common.left() > a.left()) parts.emplace_back(a.left(), common.top(), common.left() - a.left(), common.height());
  if (common.right() < a.right()) parts.emplace_back(common.right() + 1, common.top(), a.right() - common.right(), common.height());
  return parts;
}

// Paints the visible part of the bitmap 1:1, upright, reading only the visible rows.
BOOL DrawOneToOne(HDRAWDIB__* hdd, QPainter* pPainter, const QRect& visible, int xDst, int yDst, const BITMAPINFOHEADER* lpbi,
                  const Bitmap& bm) {
  // The visible lines are converted top-down into one 32-bit piece, drawn without any scaling
  // or flipping, so that it is copied as it is. Lines with no stored row behind them are black.
  if (hdd->piece.size() != visible.size()) hdd->piece = LargeImage(visible.size());
  QImage& piece = hdd->piece;
  if (piece.isNull()) return FALSE;
  const Rows rows = StoredRows(*hdd, lpbi, bm);
  const RowConverter convert(bm, rows.bitCount);
  const Span span = SpanOf(visible.left() - xDst, visible.width(), rows.bitCount);
  auto rowOf = [&](int y) {
    const int line = visible.top() - yDst + y;
    return bm.bottomUp ? bm.height - 1 - line : line;
  };
  // The stored rows behind the visible lines lie side by side, lowest first. Rows of a mapped
  // file are read from the file, where a file cut short since gives a short read rather than a
  // fault; decoded run-length rows, or a block of memory, are read in place.
  const int lowest = std::min(rowOf(0), rowOf(visible.height() - 1));
  const int highest = std::min(std::max(rowOf(0), rowOf(visible.height() - 1)), rows.count - 1);
  const bool fromFile = rows.inBlock && hdd->fd >= 0;
  // 24-bit rows are read straight into the end of their lines of the piece and widened in place
  // (the widening writes behind what it reads): the piece's memory is in use already, where a
  // buffer of its own would be fresh memory for each larger view.
  const bool inPlace = fromFile && rows.bitCount == 24 && bm.compression == BI_RGB;
  const std::size_t tail = 4 * static_cast<std::size_t>(visible.width()) - span.length;
  const auto lineOf = [&](int row) { return (bm.bottomUp ? bm.height - 1 - row : row) - (visible.top() - yDst); };
  const auto intoPiece = [&](int i) { return piece.scanLine(lineOf(lowest + i)) + tail; };
  const std::uint64_t rowsAt = hdd->fileOffset + static_cast<std::uint64_t>(rows.first - hdd->pBlock);
  const int count = highest - lowest + 1;
  const int arrived = !fromFile ? 0
                      : inPlace ? ReadRowsInto(hdd->fd, intoPiece, hdd->io.skipped, rowsAt, rows.stride, span, lowest, count)
                                : ReadRows(hdd->fd, hdd->io.staged, hdd->io.skipped, rowsAt, rows.stride, span, lowest, count);
  for (int y = 0; y < visible.height(); ++y) {
    const int row = rowOf(y);
    auto* dst = reinterpret_cast<QRgb*>(piece.scanLine(y));
    if (row >= rows.count || (fromFile && row >= lowest + arrived)) {
      std::fill_n(dst, visible.width(), qRgb(0, 0, 0));
      continue;
    }
    const BYTE* src = inPlace    ? piece.scanLine(y) + tail
                      : fromFile ? hdd->io.staged.data() + span.length * static_cast<std::size_t>(row - lowest)
                                 : rows.first + rows.stride * static_cast<std::uint64_t>(row) + span.first;
    convert(src, span.phase, visible.width(), dst);
  }
  pPainter->drawImage(visible.topLeft(), piece);
  return TRUE;
}

// A quick drawing: each shown pixel is the pixel at its centre, taken from the reduced copy when
// there is one (its pixels are means already; a copy coarser than the drawing gives a softer
// first picture), else from the bitmap's own rows: read in place from memory, or one row read
// from the file per line of the drawing. Nothing is kept: the area-averaged drawing replaces it
// in a paint of its own.
BOOL DrawNearest(HDRAWDIB__* hdd, QPainter* pPainter, const QRect& visible, int xDst, int yDst, int dxDst, int dyDst,
                 const QRect& src, const Orientation& o, const Bitmap& bm, const Rows& rows, const DRAWDIBCOPY* copy) {
  const int shownW = o.transposed ? dyDst : dxDst;  // the destination as stored
  const int shownH = o.transposed ? dxDst : dyDst;
  const QRect part = visible.translated(-xDst, -yDst);
  const QRect stored = StoredRect(o, part, dxDst, dyDst);
  const int k = copy != nullptr ? copy->nFactor : 1;
  const auto centreOf = [k](int i, int from, int length, int shown, int limit) {
    return std::min(from + static_cast<int>((static_cast<double>(i) + 0.5) * length / shown), limit - 1) / k;
  };
  std::vector<int> column(static_cast<std::size_t>(stored.width()));
  for (int i = 0; i < stored.width(); ++i)
    column[static_cast<std::size_t>(i)] = centreOf(stored.left() + i, src.x(), src.width(), shownW, bm.width);
  const int firstColumn = column.front();
  const int columns = column.back() - firstColumn + 1;
  const Span span = SpanOf(firstColumn, columns, rows.bitCount);
  const RowConverter convert(bm, rows.bitCount);
  const bool fromFile = rows.inBlock && hdd->fd >= 0;
  const std::uint64_t rowsAt = rows.inBlock ? hdd->fileOffset + static_cast<std::uint64_t>(rows.first - hdd->pBlock) : 0;
  // Three bytes a pixel, blue first, in a copy and in 24-bit rows: taken as they are.
  const bool threeBytes = copy != nullptr || (rows.bitCount == 24 && bm.compression == BI_RGB);
  QImage& drawn = o.IsIdentity() ? hdd->piece : hdd->turned;
  if (drawn.width() < stored.width() || drawn.height() < stored.height())
    drawn = LargeImage(stored.size().expandedTo(drawn.size()));
  if (drawn.isNull()) return FALSE;
  for (int j = 0; j < stored.height(); ++j) {
    const int y = centreOf(stored.top() + j, src.y(), src.height(), shownH, bm.height);
    auto* dst = reinterpret_cast<QRgb*>(drawn.scanLine(j));
    const BYTE* line = nullptr;  // the bytes from column firstColumn on
    const int row = bm.bottomUp ? bm.height - 1 - y : y;
    if (copy != nullptr) {
      line = copy->lpBits + 3 * (static_cast<std::size_t>(copy->nWidth) * static_cast<std::size_t>(y) + static_cast<std::size_t>(firstColumn));
    } else if (row < rows.count && !fromFile) {
      line = rows.first + rows.stride * static_cast<std::uint64_t>(row) + span.first;
    } else if (row < rows.count && ReadRows(hdd->fd, hdd->io.staged, hdd->io.skipped, rowsAt, rows.stride, span, row, 1) == 1) {
      line = hdd->io.staged.data();
    }
    if (line == nullptr) {
      std::fill_n(dst, stored.width(), qRgb(0, 0, 0));
      continue;
    }
    // Only the pixels taken are converted.
    if (threeBytes) {
      for (int i = 0; i < stored.width(); ++i) {
        const BYTE* p = line + 3 * static_cast<std::size_t>(column[static_cast<std::size_t>(i)] - firstColumn);
        dst[i] = qRgb(p[2], p[1], p[0]);
      }
      continue;
    }
    for (int i = 0; i < stored.width(); ++i) {
      const Span one = SpanOf(column[static_cast<std::size_t>(i)], 1, rows.bitCount);
      convert(line + (one.first - span.first), one.phase, 1, dst + i);
    }
  }
  if (!o.IsIdentity()) {
    if (hdd->piece.size() != part.size()) hdd->piece = LargeImage(part.size());
    if (hdd->piece.isNull()) return FALSE;
    for (int Y = part.top(); Y <= part.bottom(); ++Y) {
      auto* dst = reinterpret_cast<QRgb*>(hdd->piece.scanLine(Y - part.top()));
      for (int X = part.left(); X <= part.right(); ++X) {
        int u = 0, v = 0;
        o.ToStored(X, Y, shownW, shownH, u, v);
        dst[X - part.left()] = reinterpret_cast<const QRgb*>(drawn.constScanLine(v - stored.top()))[u - stored.left()];
      }
    }
  }
  pPainter->drawImage(visible.topLeft(), hdd->piece, QRect(QPoint(0, 0), part.size()));
  return TRUE;
}

// Scales and turns part r (relative to the destination's corner) of a drawing into piece at at.
void RenderPart(HDRAWDIB__* hdd, QImage& piece, QPoint at, const QRect& r, const Orientation& o, int dxDst, int dyDst,
                const QRect& src, const SourceRows& source, const DRAWDIBCOPY* copy) {
  const int shownW = o.transposed ? dyDst : dxDst;  // the destination as stored
  const int shownH = o.transposed ? dxDst : dyDst;
  const QRect stored = StoredRect(o, r, dxDst, dyDst);
  const int elementSize = copy != nullptr ? copy->nFactor : 1;
  const AxisTaps x = MakeAxisTaps(stored.left(), stored.right() + 1, shownW, src.x(), src.width(), elementSize, source.bm.width);
  const AxisTaps y = MakeAxisTaps(stored.top(), stored.bottom() + 1, shownH, src.y(), src.height(), elementSize, source.bm.height);
  // Turned drawings are scaled as stored into a scratch piece first, then turned into place.
  QImage* target = &piece;
  QPoint into = at;
  if (!o.IsIdentity()) {
    if (hdd->turned.width() < stored.width() || hdd->turned.height() < stored.height())
      hdd->turned = LargeImage(stored.size().expandedTo(hdd->turned.size()));
    target = &hdd->turned;
    into = QPoint(0, 0);
  }
  BYTE* out = target->scanLine(into.y()) + 4 * into.x();
  if (copy != nullptr) {
    const std::size_t stride = 3 * static_cast<std::size_t>(copy->nWidth);
    ScaleRows(x, y, 3, PackedRows(copy->lpBits, stride, copy->nHeight, 3 * static_cast<std::size_t>(x.elementFirst)), out,
              static_cast<std::size_t>(target->bytesPerLine()), 4);
  } else {
    SourceFetcher fetch(source, x.elementFirst, x.elementCount, hdd->io);
    ScaleRows(x, y, fetch.BytesPerPixel(), std::ref(fetch), out, static_cast<std::size_t>(target->bytesPerLine()), 4);
  }
  if (o.IsIdentity()) return;
  // Along a shown row the stored pixel moves by one column or one row of the scratch piece.
  const auto* turned = reinterpret_cast<const QRgb*>(hdd->turned.constBits());
  const std::ptrdiff_t line = hdd->turned.bytesPerLine() / 4;
  for (int Y = r.top(); Y <= r.bottom(); ++Y) {
    int u = 0, v = 0;
    o.ToStored(r.left(), Y, shownW, shownH, u, v);
    const std::ptrdiff_t step = o.transposed ? (o.mirrorY ? -line : line) : (o.mirrorX ? -1 : 1);
    const QRgb* src = turned + (v - stored.top()) * line + (u - stored.left());
    auto* dst = reinterpret_cast<QRgb*>(piece.scanLine(Y - r.top() + at.y())) + at.x();
    for (int i = 0; i < r.width(); ++i, src += step) dst[i] = *src;
  }
}

}  // namespace

HDRAWDIB DrawDibOpen() { return new HDRAWDIB__; }

BOOL DrawDibClose(HDRAWDIB hdd) {
  delete hdd;
  return TRUE;
}

void DrawDibSetSource(HDRAWDIB hdd, const void* pBlock, std::size_t cbBlock, int fd, std::uint64_t fileOffset) {
  if (hdd == nullptr) return;
  hdd->pBlock = static_cast<const BYTE*>(pBlock);
  hdd->cbBlock = pBlock != nullptr ? cbBlock : 0;
  hdd->fd = pBlock != nullptr ? fd : -1;
  hdd->fileOffset = fileOffset;
  hdd->decoded = QImage();
  hdd->pDecodedFor = nullptr;
  hdd->copies.clear();
  hdd->pCopiesFor = nullptr;
  ++hdd->generation;  // what was kept was drawn from another bitmap; its memory is reused
}

int DrawDibTurnOrientation(int nOrientation, int nQuarterTurns) {
  Orientation o = Orientation::FromExif(nOrientation);
  for (int i = 0; i < ((nQuarterTurns % 4) + 4) % 4; ++i) o = o.TurnedClockwise();
  return o.ToExif();
}

BOOL DrawDibDraw(HDRAWDIB hdd, CDC* pDC, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags, int nOrientation) {
  if (hdd == nullptr || pDC == nullptr || lpbi == nullptr || dxDst <= 0 || dyDst <= 0) return FALSE;
  Bitmap bm;
  if (!Describe(*hdd, lpbi, lpBits, bm)) return FALSE;
  const Orientation o = Orientation::FromExif(nOrientation);
  const bool oneToOne = o.IsIdentity() && dxDst == dxSrc && dyDst == dySrc && xSrc == 0 && ySrc == 0;
  const QRect src = QRect(xSrc, ySrc, dxSrc, dySrc).intersected(QRect(0, 0, bm.width, bm.height));
  if (!oneToOne && src.isEmpty()) return FALSE;
  QPainter* pPainter = pDC->GetPainter();
  // Only what can be seen is painted.
  const QRect device(0, 0, pPainter->device()->width(), pPainter->device()->height());
  QRect visible = pPainter->transform().inverted().mapRect(pPainter->hasClipping() ? pPainter->clipBoundingRect().toAlignedRect() : device);
  if (oneToOne) {
    visible = visible.intersected(QRect(xDst, yDst, std::min(dxDst, bm.width), std::min(dyDst, bm.height)));
    if (visible.isEmpty()) return TRUE;
    // A repaint of what was drawn last is copied from that drawing (element size 0: 1:1).
    const QRect part = visible.translated(-xDst, -yDst);
    const ViewKey key{hdd->generation, lpbi, 0, 0, bm.width, bm.height, dxDst, dyDst, 1, 0};
    if (!hdd->cache.isNull() && hdd->cacheKey == key && hdd->cacheRect.contains(part)) {
      pPainter->drawImage(visible.topLeft(), hdd->cache, part.translated(-hdd->cacheRect.topLeft()));
      return TRUE;
    }
    if (!DrawOneToOne(hdd, pPainter, visible, xDst, yDst, lpbi, bm)) return FALSE;
    std::swap(hdd->cache, hdd->piece);
    hdd->cacheRect = part;
    hdd->cacheKey = key;
    return TRUE;
  }
  visible = visible.intersected(QRect(xDst, yDst, dxDst, dyDst));
  if (visible.isEmpty()) return TRUE;
  const Rows rows = StoredRows(*hdd, lpbi, bm);
  if (rows.count == 0) return FALSE;
  // Large reductions are made from a reduced copy when the caller gave one.
  const double reduce = std::min(static_cast<double>(src.width()) / (o.transposed ? dyDst : dxDst),
                                 static_cast<double>(src.height()) / (o.transposed ? dxDst : dyDst));
  const DRAWDIBCOPY* copy = CopyFor(hdd, lpbi, bm, reduce);
  SourceRows source{bm, rows, hdd->fd, 0, QImage()};
  if (rows.inBlock) source.rowsAt = hdd->fileOffset + static_cast<std::uint64_t>(rows.first - hdd->pBlock);
  // What was drawn last time with the same bitmap, place and size is copied; the rest scaled.
  const QRect part = visible.translated(-xDst, -yDst);
  const ViewKey key{hdd->generation, lpbi, src.x(), src.y(), src.width(), src.height(), dxDst, dyDst, o.ToExif(),
                    copy != nullptr ? copy->nFactor : 1};
  // A hurried reduction that is not the one kept shows the stored pixels at the centres.
  const bool kept = !hdd->cache.isNull() && hdd->cacheKey == key;
  if ((wFlags & DDF_HURRYUP) != 0 && reduce > 1 + 1e-9 && !kept &&
      DrawNearest(hdd, pPainter, visible, xDst, yDst, dxDst, dyDst, src, o, bm, rows,
                  copy != nullptr ? copy : CopyFor(hdd, lpbi, bm, reduce, true)))
    return TRUE;
  QImage& piece = hdd->piece;
  if (piece.size() != part.size()) piece = LargeImage(part.size());
  if (piece.isNull()) return FALSE;
  std::vector<QRect> missing = {part};
  if (!hdd->cache.isNull() && hdd->cacheKey == key) {
    const QRect kept = part.intersected(hdd->cacheRect);
    for (int y = kept.top(); y <= kept.bottom() && !kept.isEmpty(); ++y) {
      std::memcpy(piece.scanLine(y - part.top()) + 4 * (kept.left() - part.left()),
                  hdd->cache.constScanLine(y - hdd->cacheRect.top()) + 4 * (kept.left() - hdd->cacheRect.left()),
                  4 * static_cast<std::size_t>(kept.width()));
    }
    missing = Outside(part, hdd->cacheRect);
  }
  for (const QRect& r : missing)
    RenderPart(hdd, piece, r.topLeft() - part.topLeft(), r, o, dxDst, dyDst, src, source, copy);
  std::swap(hdd->cache, piece);
  hdd->cacheRect = part;
  hdd->cacheKey = key;
  pPainter->drawImage(visible.topLeft(), hdd->cache);
  return TRUE;
}

void DrawDibSetCopies(HDRAWDIB hdd, const BITMAPINFOHEADER* lpbi, const DRAWDIBCOPY* pCopies, int nCopies) {
  if (hdd == nullptr) return;
  hdd->copies.assign(pCopies, pCopies + (pCopies != nullptr ? std::max(nCopies, 0) : 0));
  hdd->pCopiesFor = hdd->copies.empty() ? nullptr : lpbi;
}

// A bitmap's rows as a reader on another thread takes them: the description, and what keeps the
// rows to be read (a descriptor of the reader's own, the decoded run-length rows, or a copy).
struct HDIBROWS__ {
  SourceRows source;
  vimo::posix::UniqueFd fd;
  std::shared_ptr<LargeBytes> copy;
};

HDIBROWS DrawDibOpenRows(HDRAWDIB hdd, const BITMAPINFOHEADER* lpbi, const void* lpBits) {
  Bitmap bm;
  if (hdd == nullptr || lpbi == nullptr || !Describe(*hdd, lpbi, lpBits, bm)) return nullptr;
  const Rows rows = StoredRows(*hdd, lpbi, bm);
  if (rows.count == 0) return nullptr;
  auto reader = std::make_unique<HDIBROWS__>();
  reader->source = SourceRows{bm, rows, -1, 0, rows.inBlock ? QImage() : hdd->decoded};
  if (rows.inBlock && hdd->fd >= 0) {
    reader->fd = vimo::posix::UniqueFd(fcntl(hdd->fd, F_DUPFD_CLOEXEC, 0));
    if (!reader->fd.valid()) return nullptr;
    reader->source.fd = reader->fd.get();
    reader->source.rowsAt = hdd->fileOffset + static_cast<std::uint64_t>(rows.first - hdd->pBlock);
  } else if (rows.inBlock) {
    // Rows in the caller's memory may change or go as soon as this returns (an animation's
    // canvas): the reader reads a copy, in memory that the handle keeps for the next one.
    if (hdd->rowsCopy == nullptr || hdd->rowsCopy.use_count() > 1) hdd->rowsCopy = std::make_shared<LargeBytes>();
    const std::size_t bytes = static_cast<std::size_t>(rows.stride * static_cast<std::uint64_t>(rows.count));
    try {
      hdd->rowsCopy->resize(bytes);
    } catch (const std::bad_alloc&) {
      hdd->rowsCopy.reset();
      return nullptr;
    }
    std::memcpy(hdd->rowsCopy->data(), rows.first, bytes);
    reader->copy = hdd->rowsCopy;
    reader->source.rows.first = reader->copy->data();
    reader->source.bm.bits = reader->copy->data();
    reader->source.bm.available = bytes;
  }
  return reader.release();
}

BOOL DrawDibCloseRows(HDIBROWS hRows) {
  delete hRows;
  return TRUE;
}

BOOL DrawDibGetRowsSize(HDIBROWS hRows, int* pnWidth, int* pnHeight) {
  if (hRows == nullptr || pnWidth == nullptr || pnHeight == nullptr) return FALSE;
  *pnWidth = hRows->source.bm.width;
  *pnHeight = hRows->source.bm.height;
  return TRUE;
}

RowFetch DrawDibFetchRows(HDIBROWS hRows, int nFirst, int nCount, int* pnBytesPerPixel) {
  // The fetcher reads into buffers that go with it.
  struct Fetch {
    Fetch(const SourceRows& source, int first, int count) : fetcher(source, first, count, buffers) {}
    FetchBuffers buffers;
    SourceFetcher fetcher;
  };
  if (hRows == nullptr) return [](int) -> const BYTE* { return nullptr; };
  auto fetch = std::make_shared<Fetch>(hRows->source, nFirst, nCount);
  if (pnBytesPerPixel != nullptr) *pnBytesPerPixel = fetch->fetcher.BytesPerPixel();
  return [fetch](int row) { return fetch->fetcher(row); };
}
