#include "view/ClipboardOffer.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "afx/OleDataSource.h"
#include "doc/VimoDoc.h"
#include "view/VimoView.h"
#include "win32/DibScaler.h"
#include "win32/DrawDib.h"
#include "win32/GlobalMemory.h"

namespace {

// The largest PNG a clipboard passes on: the X clipboard counts a transfer's bytes in 31 bits.
constexpr std::uint64_t kLargestPng = 0x7FFFFFFF;
// The picture is turned upright a band of rows at a time, each band at most this large.
constexpr std::size_t kBandBytes = std::size_t{32} << 20;
// Pasting waits for the PNG: the fastest compression, and one filter for every row (each pixel
// less the one to its left), which costs least and shrinks a photograph's rows nearly as much as
// choosing the best filter row by row.
constexpr int kPngCompression = 1;

struct DrawDibRelease {
  void operator()(HDRAWDIB__* hdd) const { DrawDibClose(hdd); }
};
struct RowsRelease {
  void operator()(HDIBROWS__* hRows) const { DrawDibCloseRows(hRows); }
};
using RowsPtr = std::unique_ptr<HDIBROWS__, RowsRelease>;

// The most a PNG of nWidth x nHeight 24-bit pixels can take: every row's filter byte and
// pixels, the blocks that store data zlib cannot shrink, chunk headers and the file's own.
std::uint64_t LargestPngOf(int nWidth, int nHeight) {
  const std::uint64_t raw = static_cast<std::uint64_t>(nHeight) * (1 + 3 * static_cast<std::uint64_t>(nWidth));
  return raw + raw / 256 + 4096;
}

// libpng's own failures: each call below that can meet one sets where it returns to.
[[noreturn]] void OnPngError(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
void OnPngWarning(png_structp /*png*/, png_const_charp /*message*/) {}
void OnPngFlush(png_structp /*png*/) {}

void OnPngWrite(png_structp png, png_bytep data, std::size_t length) {
  bool bWritten = false;
  try {
    static_cast<CFile*>(png_get_io_ptr(png))->Write(data, static_cast<UINT>(length));
    bWritten = true;
  } catch (const std::bad_alloc&) {
  }
  if (!bWritten) png_error(png, "no memory for the picture");
}

// The PNG's header: 8-bit RGB from rows of blue, green, red and (nBytesPerPixel 4) a fourth byte.
bool PngHeader(png_structp png, png_infop info, CFile* pFile, int nWidth, int nHeight, int nBytesPerPixel) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, pFile, OnPngWrite, OnPngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(nWidth), static_cast<png_uint_32>(nHeight), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, kPngCompression);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_write_info(png, info);
  png_set_bgr(png);
  if (nBytesPerPixel == 4) png_set_filler(png, 0, PNG_FILLER_AFTER);
  return true;
}

bool PngRow(png_structp png, BYTE* row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_row(png, row);
  return true;
}

bool PngEnd(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_end(png, info);
  return true;
}

struct PngWriter {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  PngWriter() = default;
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  ~PngWriter() { png_destroy_write_struct(&png, &info); }
};

// The picture the clipboard offers: the part of a bitmap that was shown, and how it was turned.
// Its rows come from a reader of their own, so the document may move on meanwhile; the PNG is
// made anew each time another program asks, a band of upright rows at a time.
class CClipboardPicture : public COleDataSource {
 public:
  CClipboardPicture(RowsPtr pRows, const RECT& rcSource, int nOrientation);

 protected:
  BOOL OnRenderFileData(FORMATETC* lpFormatEtc, CFile* pFile) override;

 private:
  int StoredWidth() const { return m_rcSource.right - m_rcSource.left; }
  int StoredHeight() const { return m_rcSource.bottom - m_rcSource.top; }
  int UprightWidth() const { return static_cast<int>(m_columnKey.size()); }
  int UprightHeight() const { return static_cast<int>(m_rowKey.size()); }
  void FillBand(int nFirst, int nRows, int nBytesPerPixel, std::vector<BYTE>& band) const;

  RowsPtr m_pRows;
  RECT m_rcSource;
  vimo::platform::Orientation m_orientation;
  // Per upright row, its stored row (its stored column when turned sideways); per upright
  // column, its stored column (its stored row when turned sideways).
  std::vector<int> m_rowKey;
  std::vector<int> m_columnKey;
};

CClipboardPicture::CClipboardPicture(RowsPtr pRows, const RECT& rcSource, int nOrientation)
    : m_pRows(std::move(pRows)), m_rcSource(rcSource), m_orientation(vimo::platform::Orientation::FromExif(nOrientation)) {
  const bool bSideways = m_orientation.transposed;
  m_rowKey.resize(static_cast<std::size_t>(bSideways ? StoredWidth() : StoredHeight()));
  m_columnKey.resize(static_cast<std::size_t>(bSideways ? StoredHeight() : StoredWidth()));
  int x = 0;
  int y = 0;
  for (std::size_t upright = 0; upright < m_rowKey.size(); ++upright) {
    m_orientation.ToStored(0, static_cast<int>(upright), StoredWidth(), StoredHeight(), x, y);
    m_rowKey[upright] = bSideways ? x : y;
  }
  for (std::size_t upright = 0; upright < m_columnKey.size(); ++upright) {
    m_orientation.ToStored(static_cast<int>(upright), 0, StoredWidth(), StoredHeight(), x, y);
    m_columnKey[upright] = bSideways ? y : x;
  }
}

// Upright rows nFirst .. nFirst + nRows - 1 into band, from the stored rows in the order they
// are stored (top row first), which is the order the reader reads ahead in.
void CClipboardPicture::FillBand(int nFirst, int nRows, int nBytesPerPixel, std::vector<BYTE>& band) const {
  const std::size_t pixel = static_cast<std::size_t>(nBytesPerPixel);
  const std::size_t uprightRow = m_columnKey.size() * pixel;
  std::fill(band.begin(), band.end(), BYTE{0});  // rows the file no longer holds are black
  const auto [lowest, highest] = std::minmax(m_rowKey[static_cast<std::size_t>(nFirst)], m_rowKey[static_cast<std::size_t>(nFirst + nRows - 1)]);
  if (!m_orientation.transposed) {
    const vimo::platform::RowFetch fetch = DrawDibFetchRows(m_pRows.get(), m_rcSource.left, StoredWidth(), nullptr);
    for (int stored = lowest; stored <= highest; ++stored) {
      const BYTE* row = fetch(m_rcSource.top + stored);
      const int upright = m_orientation.mirrorY ? StoredHeight() - 1 - stored : stored;
      BYTE* out = band.data() + static_cast<std::size_t>(upright - nFirst) * uprightRow;
      for (std::size_t x = 0; row != nullptr && x < m_columnKey.size(); ++x)
        std::memcpy(out + x * pixel, row + static_cast<std::size_t>(m_columnKey[x]) * pixel, pixel);
    }
    return;
  }
  // Sideways: the band's rows are stored columns lowest .. highest, read across every stored row.
  const vimo::platform::RowFetch fetch = DrawDibFetchRows(m_pRows.get(), m_rcSource.left + lowest, highest - lowest + 1, nullptr);
  for (int stored = 0; stored < StoredHeight(); ++stored) {
    const BYTE* row = fetch(m_rcSource.top + stored);
    if (row == nullptr) continue;
    const std::size_t column = static_cast<std::size_t>(m_orientation.mirrorY ? StoredHeight() - 1 - stored : stored);
    for (int upright = nFirst; upright < nFirst + nRows; ++upright)
      std::memcpy(band.data() + static_cast<std::size_t>(upright - nFirst) * uprightRow + column * pixel,
                  row + static_cast<std::size_t>(m_rowKey[static_cast<std::size_t>(upright)] - lowest) * pixel, pixel);
  }
}

BOOL CClipboardPicture::OnRenderFileData(FORMATETC* lpFormatEtc, CFile* pFile) {
  if (lpFormatEtc == nullptr || lpFormatEtc->cfFormat != RegisterClipboardFormat("PNG") || pFile == nullptr) return FALSE;
  const int nUprightWidth = UprightWidth();
  const int nUprightHeight = UprightHeight();
  int nBytesPerPixel = 0;
  (void)DrawDibFetchRows(m_pRows.get(), m_rcSource.left, 1, &nBytesPerPixel);
  const PngWriter writer;
  if (writer.info == nullptr || !PngHeader(writer.png, writer.info, pFile, nUprightWidth, nUprightHeight, nBytesPerPixel))
    return FALSE;
  const std::size_t rowBytes = static_cast<std::size_t>(nUprightWidth) * static_cast<std::size_t>(nBytesPerPixel);
  const int nBandRows = static_cast<int>(std::clamp<std::size_t>(kBandBytes / rowBytes, 1, static_cast<std::size_t>(nUprightHeight)));
  std::vector<BYTE> band(rowBytes * static_cast<std::size_t>(nBandRows));
  for (int first = 0; first < nUprightHeight; first += nBandRows) {
    const int nRows = std::min(nBandRows, nUprightHeight - first);
    FillBand(first, nRows, nBytesPerPixel, band);
    for (int row = 0; row < nRows; ++row) {
      if (!PngRow(writer.png, band.data() + static_cast<std::size_t>(row) * rowBytes)) return FALSE;
    }
  }
  return PngEnd(writer.png, writer.info) ? TRUE : FALSE;
}

}  // namespace

BOOL CClipboardOffer::CopyImage(CVimoDoc& doc, const RECT& rcSource, int nOrientation, const char* path, CString* pstrReason) {
  const auto refuse = [pstrReason](const CString& reason) {
    if (pstrReason != nullptr) *pstrReason = reason;
    return FALSE;
  };
  const int nWidth = rcSource.right - rcSource.left;
  const int nHeight = rcSource.bottom - rcSource.top;
  if (doc.m_pDib == nullptr || nWidth <= 0 || nHeight <= 0 || rcSource.left < 0 || rcSource.top < 0)
    return refuse("no picture is shown");
  if (LargestPngOf(nWidth, nHeight) > kLargestPng) {
    CString reason;
    reason.Format("the picture is too large for the clipboard (%.0f megapixels; at most %.0f)",
                  static_cast<double>(nWidth) * nHeight / 1e6, static_cast<double>(kLargestPng) / 3 / 1e6);
    return refuse(reason);
  }
  RowsPtr pRows;
  {
    // A drawing service of its own, so that the view's kept drawing stays as it is. A still
    // picture's rows are read from its file, as the view reads them, through a descriptor the
    // reader keeps.
    const std::unique_ptr<HDRAWDIB__, DrawDibRelease> hdd(DrawDibOpen());
    const BOOL bFromFile = doc.m_pDib.get() == doc.m_fileDib.get();
    DrawDibSetSource(hdd.get(), doc.m_pDib.get(), doc.m_nDibSize, bFromFile ? doc.m_fileDib.descriptor() : -1,
                     bFromFile ? doc.m_fileDib.offset() : 0);
    pRows.reset(DrawDibOpenRows(hdd.get(), reinterpret_cast<const BITMAPINFOHEADER*>(doc.m_pDib.get()), doc.m_pBits));
  }
  int nStoredWidth = 0;
  int nStoredHeight = 0;
  if (!pRows || !DrawDibGetRowsSize(pRows.get(), &nStoredWidth, &nStoredHeight)) return refuse("out of memory");
  if (rcSource.right > nStoredWidth || rcSource.bottom > nStoredHeight) return refuse("no picture is shown");
  HGLOBAL hDrop = CVimoView::CreateDropFiles(path);
  if (hDrop == nullptr) return refuse("out of memory");
  // The clipboard owns the data source from SetClipboard on, as the framework has it.
  auto* pPicture = new CClipboardPicture(std::move(pRows), rcSource, nOrientation);
  pPicture->CacheGlobalData(CF_HDROP, hDrop);
  pPicture->DelayRenderFileData(RegisterClipboardFormat("PNG"));
  return pPicture->SetClipboard() ? TRUE : refuse("out of memory");
}

BOOL CClipboardOffer::CopyPath(const char* path) {
  const std::size_t length = std::strlen(path);
  HGLOBAL hText = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, length + 1);
  if (hText == nullptr) return FALSE;
  std::memcpy(GlobalLock(hText), path, length);
  GlobalUnlock(hText);
  COleDataSource source;
  source.CacheGlobalData(CF_TEXT, hText);
  return source.SetClipboard();
}
