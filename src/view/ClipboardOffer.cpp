#include "view/ClipboardOffer.h"

#include <cstring>
#include <memory>

#include "afx/OleDataSource.h"
#include "doc/VimoDoc.h"
#include "view/VimoView.h"
#include "win32/GlobalMemory.h"

namespace {

struct DrawDibRelease {
  void operator()(HDRAWDIB__* hdd) const { DrawDibClose(hdd); }
};

}  // namespace

HGLOBAL CClipboardOffer::DrawUpright(CVimoDoc& doc, const RECT& rcSource, int nOrientation) {
  const int nWidth = rcSource.right - rcSource.left;
  const int nHeight = rcSource.bottom - rcSource.top;
  if (doc.m_pDib == nullptr || nWidth <= 0 || nHeight <= 0) return nullptr;
  const BOOL bSideways = nOrientation >= 5;
  const int nShownWidth = bSideways ? nHeight : nWidth;
  const int nShownHeight = bSideways ? nWidth : nHeight;
  CBitmap bitmap;
  if (!bitmap.CreateBitmap(nShownWidth, nShownHeight, 1, 32, nullptr)) return nullptr;
  {
    // A drawing service of its own, so that the view's kept drawing stays as it is. A still
    // picture's rows are read from its file, as the view reads them.
    const std::unique_ptr<HDRAWDIB__, DrawDibRelease> hdd(DrawDibOpen());
    const BOOL bFromFile = doc.m_pDib.get() == doc.m_fileDib.get();
    DrawDibSetSource(hdd.get(), doc.m_pDib.get(), doc.m_nDibSize, bFromFile ? doc.m_fileDib.descriptor() : -1,
                     bFromFile ? doc.m_fileDib.offset() : 0);
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CBitmap* pOld = dc.SelectObject(&bitmap);
    const BOOL bDrawn = DrawDibDraw(hdd.get(), &dc, 0, 0, nShownWidth, nShownHeight,
                                    reinterpret_cast<const BITMAPINFOHEADER*>(doc.m_pDib.get()), doc.m_pBits,
                                    rcSource.left, rcSource.top, nWidth, nHeight, 0, nOrientation);
    dc.SelectObject(pOld);
    DrawDibSetSource(hdd.get(), nullptr, 0, -1, 0);
    if (!bDrawn) return nullptr;
  }
  const std::size_t rowBytes = 4 * static_cast<std::size_t>(nShownWidth);
  const std::size_t pixelBytes = rowBytes * static_cast<std::size_t>(nShownHeight);
  HGLOBAL hDib = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + pixelBytes);
  if (hDib == nullptr) return nullptr;
  auto* bytes = static_cast<BYTE*>(GlobalLock(hDib));
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(header);
  header.biWidth = nShownWidth;
  header.biHeight = -nShownHeight;  // top row first
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(pixelBytes);
  std::memcpy(bytes, &header, sizeof(header));
  const DWORD copied = bitmap.GetBitmapBits(static_cast<DWORD>(pixelBytes), bytes + sizeof(header));
  GlobalUnlock(hDib);
  if (copied == pixelBytes) return hDib;
  GlobalFree(hDib);
  return nullptr;
}

BOOL CClipboardOffer::CopyImage(CVimoDoc& doc, const RECT& rcSource, int nOrientation, const char* path) {
  HGLOBAL hDib = DrawUpright(doc, rcSource, nOrientation);
  HGLOBAL hDrop = CVimoView::CreateDropFiles(path);
  if (hDib == nullptr || hDrop == nullptr) {
    if (hDib != nullptr) GlobalFree(hDib);
    if (hDrop != nullptr) GlobalFree(hDrop);
    return FALSE;
  }
  COleDataSource source;
  source.CacheGlobalData(CF_DIB, hDib);
  source.CacheGlobalData(CF_HDROP, hDrop);
  return source.SetClipboard();
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
