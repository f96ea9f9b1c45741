#include "win32/DrawDib.h"

#include <QImage>
#include <QPainter>

#include <fcntl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "afx/Wnd.h"
#include "posix/UniqueFd.h"
#include "win32/DibLayout.h"
#include "win32/DibRows.h"
#include "win32/LargeMemory.h"

using vimo::platform::AxisTaps;
using vimo::platform::LargeBytes;
using vimo::platform::LargeImage;
using vimo::platform::MakeAxisTaps;
using vimo::platform::Orientation;
using vimo::platform::PackedRows;
using vimo::platform::RowFetch;
using vimo::platform::ScaleRows;
using vimo::platform::dib::Bitmap;
using vimo::platform::dib::DecodeRle;
using vimo::platform::dib::Describe;
using vimo::platform::dib::FetchBuffers;
using vimo::platform::dib::ReadRows;
using vimo::platform::dib::ReadRowsInto;
using vimo::platform::dib::Rows;
using vimo::platform::dib::RowConverter;
using vimo::platform::dib::SourceFetcher;
using vimo::platform::dib::SourceRows;
using vimo::platform::dib::Span;
using vimo::platform::dib::SpanOf;

namespace {

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
  if (!Describe(hdd->pBlock, hdd->cbBlock, lpbi, lpBits, bm)) return FALSE;
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
  if (hdd == nullptr || lpbi == nullptr || !Describe(hdd->pBlock, hdd->cbBlock, lpbi, lpBits, bm)) return nullptr;
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
