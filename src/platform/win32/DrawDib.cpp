#include "win32/DrawDib.h"

#include <QImage>
#include <QPainter>

#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "afx/Wnd.h"
#include "win32/DibLayout.h"

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
  std::vector<BYTE> staged;
  std::vector<BYTE> skipped;  // file bytes between the visible parts of rows: read and dropped
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

void Put(QImage& image, int x, int y, BYTE index) {
  if (x >= 0 && x < image.width() && y >= 0 && y < image.height()) image.scanLine(y)[x] = index;
}

// Decodes RLE8 or RLE4 rows into an 8-bit image in stored order (row 0 first as stored).
QImage DecodeRle(const Bitmap& bm) {
  QImage image(bm.width, bm.height, QImage::Format_Indexed8);
  if (image.isNull()) return image;
  image.fill(0);
  const bool four = bm.compression == BI_RLE4;
  const BYTE* p = bm.bits;
  const BYTE* end = bm.bits + bm.available;
  int x = 0;
  int y = 0;
  while (end - p >= 2 && y < bm.height) {
    const BYTE count = p[0];
    const BYTE code = p[1];
    p += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i, ++x) Put(image, x, y, four ? ((i & 1) ? (code & 0x0F) : (code >> 4)) : code);
      continue;
    }
    if (code == 0) {
      x = 0;
      ++y;
    } else if (code == 1) {
      break;
    } else if (code == 2) {
      if (end - p < 2) break;
      x += p[0];
      y += p[1];
      p += 2;
    } else {
      const std::size_t bytes = four ? (code + 1u) / 2u : code;
      const std::size_t padded = (bytes + 1u) & ~static_cast<std::size_t>(1);
      for (int i = 0; i < code; ++i, ++x) {
        const std::size_t at = four ? static_cast<std::size_t>(i) / 2 : static_cast<std::size_t>(i);
        if (at >= static_cast<std::size_t>(end - p)) break;
        Put(image, x, y, four ? ((i & 1) ? (p[at] & 0x0F) : (p[at] >> 4)) : p[at]);
      }
      p += std::min<std::size_t>(padded, static_cast<std::size_t>(end - p));
    }
  }
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

  // Blue, green, red bytes to 0xFFRRGGBB: four pixels (three 32-bit words) at a time.
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

// Fills the count buffers of iov from fd, starting at offset, until they are full, the file ends
// or a read fails; returns the bytes read. iov is used up on the way.
std::uint64_t ReadFully(int fd, iovec* iov, int count, std::uint64_t offset) {
  std::uint64_t total = 0;
  while (count > 0) {
    const ssize_t got = preadv(fd, iov, count, static_cast<off_t>(offset + total));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<std::uint64_t>(got);
    auto left = static_cast<std::size_t>(got);
    for (; count > 0 && left >= iov->iov_len; --count, ++iov) left -= iov->iov_len;
    if (count > 0) {
      iov->iov_base = static_cast<BYTE*>(iov->iov_base) + left;
      iov->iov_len -= left;
    }
  }
  return total;
}

// Reads the bytes span of the stored rows first .. first + count - 1 from the file the block was
// mapped from into dd.staged, one row after another, and returns how many whole rows arrived,
// in file order: a file cut short since it was mapped gives a short read, never a fault, and
// the rows it no longer holds are left out. The rows lie one stride apart in the file, so one
// preadv reads many of them, the bytes between their spans into dd.skipped; rows further apart
// than kMaxSkipped are read one call each.
int ReadRows(HDRAWDIB__& dd, std::uint64_t rowsAt, std::uint64_t stride, Span span, int first, int count) {
  if (count <= 0 || span.length == 0) return 0;
  dd.staged.resize(span.length * static_cast<std::size_t>(count));
  const std::uint64_t gap = stride - span.length;
  const bool joined = gap <= kMaxSkipped;
  if (joined && gap > dd.skipped.size()) dd.skipped.resize(static_cast<std::size_t>(gap));
  const int rowsPerCall = !joined ? 1 : gap == 0 ? IOV_MAX : (IOV_MAX + 1) / 2;
  std::vector<iovec> iov;
  int arrived = 0;
  while (arrived < count) {
    const int rows = std::min(count - arrived, rowsPerCall);
    iov.clear();
    for (int i = 0; i < rows; ++i) {
      if (i > 0 && gap > 0) iov.push_back({dd.skipped.data(), static_cast<std::size_t>(gap)});
      iov.push_back({dd.staged.data() + span.length * static_cast<std::size_t>(arrived + i), span.length});
    }
    const std::uint64_t at = rowsAt + stride * static_cast<std::uint64_t>(first + arrived) + span.first;
    const std::uint64_t got = ReadFully(dd.fd, iov.data(), static_cast<int>(iov.size()), at);
    // Row i ends i strides and one span after the start.
    const int whole = got < span.length ? 0 : static_cast<int>(std::min<std::uint64_t>((got - span.length) / stride + 1, rows));
    arrived += whole;
    if (whole < rows) break;
  }
  return arrived;
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
}

BOOL DrawDibDraw(HDRAWDIB hdd, CDC* pDC, int xDst, int yDst, int dxDst, int dyDst, const BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT /*wFlags*/) {
  if (hdd == nullptr || pDC == nullptr || lpbi == nullptr) return FALSE;
  Bitmap bm;
  if (!Describe(*hdd, lpbi, lpBits, bm)) return FALSE;
  if (dxDst != dxSrc || dyDst != dySrc || xSrc != 0 || ySrc != 0) return FALSE;
  QPainter* pPainter = pDC->GetPainter();
  const int width = std::min(dxDst, bm.width);
  const int height = std::min(dyDst, bm.height);
  // Only what can be seen is painted.
  const QRect device(0, 0, pPainter->device()->width(), pPainter->device()->height());
  QRect visible = pPainter->transform().inverted().mapRect(pPainter->hasClipping() ? pPainter->clipBoundingRect().toAlignedRect() : device);
  visible = visible.intersected(QRect(xDst, yDst, width, height));
  if (visible.isEmpty()) return TRUE;
  // The visible lines are converted top-down into one 32-bit piece, drawn without any scaling
  // or flipping, so that it is copied as it is. Lines with no stored row behind them are black.
  if (hdd->piece.size() != visible.size()) hdd->piece = QImage(visible.size(), QImage::Format_RGB32);
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
  const int arrived = fromFile ? ReadRows(*hdd, hdd->fileOffset + static_cast<std::uint64_t>(rows.first - hdd->pBlock),
                                          rows.stride, span, lowest, highest - lowest + 1)
                               : 0;
  for (int y = 0; y < visible.height(); ++y) {
    const int row = rowOf(y);
    auto* dst = reinterpret_cast<QRgb*>(piece.scanLine(y));
    if (row >= rows.count || (fromFile && row >= lowest + arrived)) {
      std::fill_n(dst, visible.width(), qRgb(0, 0, 0));
      continue;
    }
    const BYTE* src = fromFile ? hdd->staged.data() + span.length * static_cast<std::size_t>(row - lowest)
                               : rows.first + rows.stride * static_cast<std::uint64_t>(row) + span.first;
    convert(src, span.phase, visible.width(), dst);
  }
  pPainter->drawImage(visible.topLeft(), piece);
  return TRUE;
}
