#include "win32/DrawDib.h"

#include <QImage>
#include <QPainter>

#include <cstring>
#include <vector>

#include "afx/Wnd.h"

struct HDRAWDIB__ {
  const BYTE* pBlock = nullptr;
  std::size_t cbBlock = 0;
  // A decoded copy for the formats Qt cannot wrap, made once per bitmap.
  QImage decoded;
  const void* pDecodedFor = nullptr;
  int nDecodedRows = 0;
};

namespace {

// Decoding buffers are refused beyond this many pixels.
constexpr std::uint64_t kMaxDecodedPixels = 64ull * 1024 * 1024;

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

// The fields of a 12-byte core header, or of a 40-byte (or larger) information header.
struct Header {
  DWORD size = 0;
  LONG width = 0;
  LONG height = 0;
  int bitCount = 0;
  DWORD compression = BI_RGB;
  DWORD colorsUsed = 0;
  std::uint64_t entrySize = 4;  // bytes per colour-table entry
};

bool ReadHeader(const BYTE* header, const BYTE* end, Header& h) {
  if (end - header < 4) return false;
  h.size = ReadDword(header);
  if (h.size == sizeof(BITMAPCOREHEADER)) {
    if (end - header < static_cast<std::ptrdiff_t>(sizeof(BITMAPCOREHEADER))) return false;
    BITMAPCOREHEADER core;
    std::memcpy(&core, header, sizeof(core));
    h.width = core.bcWidth;
    h.height = core.bcHeight;
    h.bitCount = core.bcBitCount;
    h.entrySize = 3;
    return true;
  }
  if (h.size < sizeof(BITMAPINFOHEADER) || end - header < static_cast<std::ptrdiff_t>(sizeof(BITMAPINFOHEADER)))
    return false;
  BITMAPINFOHEADER info;
  std::memcpy(&info, header, sizeof(info));
  h.width = info.biWidth;
  h.height = info.biHeight;
  h.bitCount = info.biBitCount;
  h.compression = info.biCompression;
  h.colorsUsed = info.biClrUsed;
  return true;
}

bool Describe(const HDRAWDIB__& dd, const BITMAPINFOHEADER* lpbi, const void* lpBits, Bitmap& bm) {
  const BYTE* header = reinterpret_cast<const BYTE*>(lpbi);
  const BYTE* bits = static_cast<const BYTE*>(lpBits);
  const BYTE* end = dd.pBlock + dd.cbBlock;
  if (dd.pBlock == nullptr || header < dd.pBlock || header > end) return false;
  Header info;
  if (!ReadHeader(header, end, info)) return false;
  if (info.width <= 0 || info.height == 0 || info.height == INT32_MIN) return false;
  if (bits < dd.pBlock || bits > end) return false;
  bm.width = info.width;
  bm.height = info.height < 0 ? -info.height : info.height;
  bm.bottomUp = info.height > 0;
  bm.bitCount = info.bitCount;
  bm.compression = info.compression;
  bm.bits = bits;
  bm.available = static_cast<std::size_t>(end - bits);
  bm.stride = ((static_cast<std::uint64_t>(bm.width) * bm.bitCount + 31) / 32) * 4;
  const std::uint64_t headerEnd = static_cast<std::uint64_t>(header - dd.pBlock) + info.size;
  if (bm.bitCount <= 8) {
    const int entries = 1 << bm.bitCount;
    bm.colors.fill(qRgb(0, 0, 0), entries);
    const std::uint64_t used = info.colorsUsed != 0 ? std::min<std::uint64_t>(info.colorsUsed, entries) : entries;
    for (std::uint64_t i = 0; i < used; ++i) {
      const std::uint64_t at = headerEnd + info.entrySize * i;
      if (at + info.entrySize > dd.cbBlock) break;
      const BYTE* q = dd.pBlock + at;
      bm.colors[static_cast<int>(i)] = qRgb(q[2], q[1], q[0]);
    }
  }
  if (bm.compression == BI_BITFIELDS) {
    // The masks follow a 40-byte header, or lie inside a larger one at the same place.
    const std::uint64_t at = static_cast<std::uint64_t>(header - dd.pBlock) + 40;
    if (at + 12 > dd.cbBlock) return false;
    for (int i = 0; i < 3; ++i) bm.masks[i] = ReadDword(dd.pBlock + at + 4 * static_cast<std::uint64_t>(i));
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

int MaskShift(DWORD mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

BYTE MaskedChannel(DWORD value, DWORD mask) {
  if (mask == 0) return 0;
  const int shift = MaskShift(mask);
  const DWORD max = mask >> shift;
  return static_cast<BYTE>(((value & mask) >> shift) * 255u / max);
}

// Rows the Qt formats cannot wrap, converted: 4 bits to 8, bit fields to 32-bit colour.
QImage ConvertRows(const Bitmap& bm, int rows) {
  if (bm.bitCount == 4) {
    QImage image(bm.width, rows, QImage::Format_Indexed8);
    if (image.isNull()) return image;
    for (int y = 0; y < rows; ++y) {
      const BYTE* src = bm.bits + bm.stride * static_cast<std::uint64_t>(y);
      BYTE* dst = image.scanLine(y);
      for (int x = 0; x < bm.width; ++x) dst[x] = (x & 1) ? (src[x / 2] & 0x0F) : (src[x / 2] >> 4);
    }
    return image;
  }
  QImage image(bm.width, rows, QImage::Format_RGB32);
  if (image.isNull()) return image;
  for (int y = 0; y < rows; ++y) {
    const BYTE* src = bm.bits + bm.stride * static_cast<std::uint64_t>(y);
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < bm.width; ++x) {
      DWORD value = 0;
      if (bm.bitCount == 16) value = static_cast<DWORD>(src[2 * x] | (src[2 * x + 1] << 8));
      else value = ReadDword(src + 4 * static_cast<std::size_t>(x));
      dst[x] = qRgb(MaskedChannel(value, bm.masks[0]), MaskedChannel(value, bm.masks[1]), MaskedChannel(value, bm.masks[2]));
    }
  }
  return image;
}

QImage::Format FormatOf(int bitCount) {
  switch (bitCount) {
    case 1: return QImage::Format_Mono;
    case 8: return QImage::Format_Indexed8;
    case 16: return QImage::Format_RGB555;
    case 24: return QImage::Format_BGR888;
    default: return QImage::Format_RGB32;
  }
}

// The stored rows available, as an image in stored order; nRows says how many it holds. Rows Qt
// can wrap in place give a null image with bWrap set: the caller wraps the rows it paints.
QImage StoredRows(HDRAWDIB__& dd, const BITMAPINFOHEADER* lpbi, const Bitmap& bm, int& nRows, bool& bWrap) {
  bWrap = false;
  const bool compressed = bm.compression == BI_RLE8 || bm.compression == BI_RLE4;
  if (compressed && (bm.compression == BI_RLE8 ? bm.bitCount != 8 : bm.bitCount != 4)) return QImage();
  if (!compressed && bm.compression != BI_RGB && bm.compression != BI_BITFIELDS) return QImage();
  // Masks describe 16- and 32-bit pixels; other depths would be read four bytes a pixel.
  if (bm.compression == BI_BITFIELDS && bm.bitCount != 16 && bm.bitCount != 32) return QImage();
  const std::uint64_t fullRows = bm.stride == 0 ? 0 : bm.available / bm.stride;
  nRows = compressed ? bm.height : static_cast<int>(std::min<std::uint64_t>(fullRows, static_cast<std::uint64_t>(bm.height)));
  if (nRows <= 0) return QImage();
  if (!compressed && bm.bitCount != 4 && bm.compression != BI_BITFIELDS) {
    bWrap = bm.stride <= static_cast<std::uint64_t>(INT32_MAX);
    return QImage();
  }
  if (dd.pDecodedFor != lpbi || dd.decoded.isNull()) {
    if (static_cast<std::uint64_t>(bm.width) * static_cast<std::uint64_t>(nRows) > kMaxDecodedPixels) return QImage();
    dd.decoded = compressed ? DecodeRle(bm) : ConvertRows(bm, nRows);
    dd.pDecodedFor = lpbi;
    dd.nDecodedRows = nRows;
  }
  nRows = dd.decoded.height();
  QImage image = dd.decoded;
  if (image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono) image.setColorTable(bm.colors);
  return image;
}

// Stored rows rowFrom..rowTo of a bitmap Qt can read in place. Rows that are 4-byte aligned are
// wrapped without a copy; others (a mapped file puts them 2 bytes off) are copied, only the
// columns xFrom..xTo when whole bytes hold whole pixels; xFrom then says where the piece starts.
QImage WrappedRows(const Bitmap& bm, int rowFrom, int rowTo, int& xFrom, int xTo) {
  const BYTE* first = bm.bits + bm.stride * static_cast<std::uint64_t>(rowFrom);
  const int count = rowTo - rowFrom;
  const QImage::Format format = FormatOf(bm.bitCount);
  QImage piece;
  if (reinterpret_cast<std::uintptr_t>(first) % 4 == 0) {
    xFrom = 0;
    piece = QImage(first, bm.width, count, static_cast<qsizetype>(bm.stride), format);
  } else {
    if (bm.bitCount < 8) xFrom = 0;
    const int columns = (bm.bitCount < 8 ? bm.width : xTo) - xFrom;
    const std::size_t bytesPerPixel = static_cast<std::size_t>(bm.bitCount) / 8;
    const std::size_t offset = bytesPerPixel * static_cast<std::size_t>(xFrom);
    piece = QImage(columns, count, format);
    const std::size_t length = bm.bitCount < 8 ? static_cast<std::size_t>(bm.stride) : bytesPerPixel * columns;
    for (int y = 0; !piece.isNull() && y < count; ++y)
      std::memcpy(piece.scanLine(y), first + bm.stride * static_cast<std::uint64_t>(y) + offset,
                  std::min<std::size_t>(length, static_cast<std::size_t>(piece.bytesPerLine())));
  }
  if (!piece.isNull() && bm.bitCount <= 8) piece.setColorTable(bm.colors);
  return piece;
}

}  // namespace

HDRAWDIB DrawDibOpen() { return new HDRAWDIB__; }

BOOL DrawDibClose(HDRAWDIB hdd) {
  delete hdd;
  return TRUE;
}

void DrawDibSetSource(HDRAWDIB hdd, const void* pBlock, std::size_t cbBlock) {
  if (hdd == nullptr) return;
  hdd->pBlock = static_cast<const BYTE*>(pBlock);
  hdd->cbBlock = pBlock != nullptr ? cbBlock : 0;
  hdd->decoded = QImage();
  hdd->pDecodedFor = nullptr;
  hdd->nDecodedRows = 0;
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
  // Only the rows that can be seen are painted.
  const QRect device(0, 0, pPainter->device()->width(), pPainter->device()->height());
  QRect visible = pPainter->transform().inverted().mapRect(pPainter->hasClipping() ? pPainter->clipBoundingRect().toAlignedRect() : device);
  visible = visible.intersected(QRect(xDst, yDst, width, height));
  if (visible.isEmpty()) return TRUE;
  const int top = visible.top() - yDst;           // first visible line, from the image's top
  const int bottom = visible.bottom() + 1 - yDst;  // one past the last
  int nRows = 0;
  bool bWrap = false;
  const QImage stored = StoredRows(*hdd, lpbi, bm, nRows, bWrap);
  // Lines with no stored row behind them are painted black.
  auto lineOfRow = [&bm](int row) { return bm.bottomUp ? bm.height - 1 - row : row; };
  const int firstRow = bm.bottomUp ? bm.height - bottom : top;
  const int lastRow = bm.bottomUp ? bm.height - top : bottom;  // exclusive
  const int rowFrom = std::max(0, firstRow);
  const int rowTo = std::min(lastRow, stored.isNull() && !bWrap ? 0 : nRows);
  pPainter->fillRect(visible, Qt::black);
  if (rowFrom >= rowTo) return TRUE;
  int xFrom = visible.left() - xDst;  // the piece's first column in the image
  QImage piece;
  if (bWrap) {
    piece = WrappedRows(bm, rowFrom, rowTo, xFrom, visible.right() + 1 - xDst);
  } else {
    xFrom = 0;
    piece = QImage(stored.constScanLine(rowFrom), stored.width(), rowTo - rowFrom, stored.bytesPerLine(), stored.format());
    if (stored.format() == QImage::Format_Indexed8 || stored.format() == QImage::Format_Mono)
      piece.setColorTable(stored.colorTable());
  }
  if (piece.isNull()) return TRUE;
  pPainter->save();
  if (bm.bottomUp) {
    pPainter->translate(xDst, yDst + lineOfRow(rowFrom) + 1);
    pPainter->scale(1, -1);
  } else {
    pPainter->translate(xDst, yDst + rowFrom);
  }
  const int pieceWidth = std::min(width - xFrom, piece.width());
  pPainter->drawImage(QRect(xFrom, 0, pieceWidth, piece.height()), piece, QRect(0, 0, pieceWidth, piece.height()));
  pPainter->restore();
  return TRUE;
}
