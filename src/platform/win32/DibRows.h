// The stored rows of a packed device-independent bitmap as DrawDib reads them: where they are
// (the block, the file it was mapped from, or run-length rows decoded), the bytes of a range of
// columns read from the file with few calls, and pixels of every layout turned into 32-bit colour.
#pragma once

#include <QImage>

#include <sys/uio.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "posix/RegularFile.h"
#include "win32/LargeMemory.h"
#include "win32/WinTypes.h"

namespace vimo::platform::dib {

// Rows whose visible parts lie at most this many bytes apart in the file are read in one call,
// the bytes between them included.
inline constexpr std::uint64_t kMaxSkipped = 64 * 1024;

// A bitmap as it is drawn: its size and rows, its colours (256 entries for 8 bits or fewer) and
// bit-field masks.
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

// The bitmap lpbi / lpBits of the block pBlock (cbBlock bytes) as drawn; false for a layout
// that is not drawn or one that does not lie in the block.
bool Describe(const BYTE* pBlock, std::size_t cbBlock, const BITMAPINFOHEADER* lpbi, const void* lpBits, Bitmap& bm);

// Decodes RLE8 or RLE4 rows into an 8-bit image in stored order (row 0 first as stored).
QImage DecodeRle(const Bitmap& bm);

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

Span SpanOf(int x, int n, int bitCount);

inline DWORD ReadDword(const BYTE* p) {
  DWORD value;
  std::memcpy(&value, p, 4);
  return value;
}

// One channel of a bit-field pixel: where it sits and how many steps it has.
struct Channel {
  DWORD mask = 0;
  int shift = 0;
  DWORD max = 0;
};

inline Channel ChannelOf(DWORD mask) {
  Channel channel{mask, 0, 0};
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++channel.shift;
  }
  channel.max = mask;
  return channel;
}

inline BYTE Scale(DWORD value, const Channel& c) {
  return c.max == 0 ? 0 : static_cast<BYTE>(((value & c.mask) >> c.shift) * 255u / c.max);
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
             Span span, int first, int count);

// Buffers that reading rows from a file reuses from one drawing to the next: fresh memory costs
// a page fault per page touched.
struct FetchBuffers {
  LargeBytes staged;
  std::vector<BYTE> skipped;  // file bytes between the wanted parts of rows: read and dropped
  std::vector<BYTE> converted;
};

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
  SourceFetcher(const SourceRows& source, int first, int count, FetchBuffers& buffers);
  int BytesPerPixel() const { return m_raw && m_source.rows.bitCount == 24 ? 3 : 4; }
  // The bytes of the columns fetched in row (0 the top row); NULL when the row cannot be read.
  const BYTE* operator()(int row);

 private:
  // Reads a batch of stored rows around `stored` when it is not read yet: below it for rows
  // stored bottom-up (they are asked for top row first), above it otherwise.
  const BYTE* FromFile(int stored);

  const SourceRows& m_source;
  RowConverter m_convert;
  int m_count;
  FetchBuffers& m_buffers;
  bool m_raw = false;
  Span m_span;
  int m_batchFirst = 0;
  int m_batchArrived = 0;
};

}  // namespace vimo::platform::dib
