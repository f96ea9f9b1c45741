#include "win32/DibRows.h"

#include "win32/DibLayout.h"

namespace vimo::platform::dib {

bool Describe(const BYTE* pBlock, std::size_t cbBlock, const BITMAPINFOHEADER* lpbi, const void* lpBits, Bitmap& bm) {
  const BYTE* header = reinterpret_cast<const BYTE*>(lpbi);
  const BYTE* bits = static_cast<const BYTE*>(lpBits);
  const BYTE* end = pBlock + cbBlock;
  if (pBlock == nullptr || header < pBlock || header > end) return false;
  const vimo::platform::DibLayout layout = vimo::platform::ReadDibLayout(header, static_cast<std::size_t>(end - header));
  if (layout.kind != vimo::platform::DibHeaderKind::kCore && layout.kind != vimo::platform::DibHeaderKind::kInfo) return false;
  if (layout.width <= 0 || layout.height == 0 || layout.height == INT32_MIN) return false;
  if (bits < pBlock || bits > end) return false;
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
    const std::uint64_t tableAt = static_cast<std::uint64_t>(header - pBlock) + layout.colorTableOffset;
    for (std::uint64_t i = 0; i < layout.PaletteEntries(); ++i) {
      const std::uint64_t at = tableAt + layout.colorEntrySize * i;
      if (at + layout.colorEntrySize > cbBlock) break;
      const BYTE* q = pBlock + at;
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

Span SpanOf(int x, int n, int bitCount) {
  if (bitCount <= 0) return Span();
  const std::size_t bits = static_cast<std::size_t>(bitCount);
  const std::size_t first = static_cast<std::size_t>(x) * bits / 8;
  const std::size_t end = (static_cast<std::size_t>(x + n) * bits + 7) / 8;
  return Span{first, end - first, bitCount < 8 ? x % (8 / bitCount) : 0};
}

int ReadRows(int fd, LargeBytes& staged, std::vector<BYTE>& skipped, std::uint64_t rowsAt, std::uint64_t stride,
             Span span, int first, int count) {
  if (count <= 0 || span.length == 0) return 0;
  staged.resize(span.length * static_cast<std::size_t>(count));
  const auto into = [&staged, &span](int i) { return staged.data() + span.length * static_cast<std::size_t>(i); };
  return ReadRowsInto(fd, into, skipped, rowsAt, stride, span, first, count);
}

SourceFetcher::SourceFetcher(const SourceRows& source, int first, int count, FetchBuffers& buffers)
    : m_source(source), m_convert(source.bm, source.rows.bitCount), m_count(count), m_buffers(buffers) {
  const int bits = source.rows.bitCount;
  m_raw = (bits == 24 || bits == 32) && source.bm.compression == BI_RGB;
  m_span = SpanOf(first, count, bits);
  if (!m_raw) m_buffers.converted.resize(static_cast<std::size_t>(count) * 4);
}

const BYTE* SourceFetcher::operator()(int row) {
  if (row < 0 || row >= m_source.bm.height || m_count <= 0) return nullptr;
  const int stored = m_source.bm.bottomUp ? m_source.bm.height - 1 - row : row;
  if (stored >= m_source.rows.count) return nullptr;
  const BYTE* bytes = m_source.rows.inBlock && m_source.fd >= 0 ? FromFile(stored)
                                                                : m_source.rows.first + m_source.rows.stride * static_cast<std::uint64_t>(stored) + m_span.first;
  if (bytes == nullptr || m_raw) return bytes;
  m_convert(bytes, m_span.phase, m_count, reinterpret_cast<QRgb*>(m_buffers.converted.data()));
  return m_buffers.converted.data();
}

const BYTE* SourceFetcher::FromFile(int stored) {
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

}  // namespace vimo::platform::dib
