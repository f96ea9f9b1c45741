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
#include "view/UprightRows.h"
#include "view/VimoView.h"
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

// The picture the clipboard offers: the part of a bitmap that was shown, upright. Its rows come
// from a reader of their own, so the document may move on meanwhile; the PNG is made anew each
// time another program asks, a band of upright rows at a time.
class CClipboardPicture : public COleDataSource {
 public:
  explicit CClipboardPicture(std::unique_ptr<CUprightRows> pRows) : m_pRows(std::move(pRows)) {}

 protected:
  BOOL OnRenderFileData(FORMATETC* lpFormatEtc, CFile* pFile) override;

 private:
  std::unique_ptr<CUprightRows> m_pRows;
};

BOOL CClipboardPicture::OnRenderFileData(FORMATETC* lpFormatEtc, CFile* pFile) {
  if (lpFormatEtc == nullptr || lpFormatEtc->cfFormat != RegisterClipboardFormat("PNG") || pFile == nullptr) return FALSE;
  const int nUprightWidth = m_pRows->Width();
  const int nUprightHeight = m_pRows->Height();
  const int nBytesPerPixel = m_pRows->BytesPerPixel();
  const PngWriter writer;
  if (writer.info == nullptr || !PngHeader(writer.png, writer.info, pFile, nUprightWidth, nUprightHeight, nBytesPerPixel))
    return FALSE;
  const std::size_t rowBytes = static_cast<std::size_t>(nUprightWidth) * static_cast<std::size_t>(nBytesPerPixel);
  const int nBandRows = static_cast<int>(std::clamp<std::size_t>(kBandBytes / rowBytes, 1, static_cast<std::size_t>(nUprightHeight)));
  std::vector<BYTE> band(rowBytes * static_cast<std::size_t>(nBandRows));
  for (int first = 0; first < nUprightHeight; first += nBandRows) {
    const int nRows = std::min(nBandRows, nUprightHeight - first);
    m_pRows->FillBand(first, nRows, band.data(), rowBytes);
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
  CString reason;
  std::unique_ptr<CUprightRows> pRows = CUprightRows::Open(doc, rcSource, nOrientation, reason);
  if (!pRows) return refuse(reason);
  HGLOBAL hDrop = CVimoView::CreateDropFiles(path);
  if (hDrop == nullptr) return refuse("out of memory");
  // The clipboard owns the data source from SetClipboard on, as the framework has it.
  auto* pPicture = new CClipboardPicture(std::move(pRows));
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
