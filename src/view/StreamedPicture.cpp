#include "view/StreamedPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "convert/BmpWriter.h"
#include "convert/ConvertImage.h"
#include "win32/Kernel.h"

// What the decoder's thread works on; `cancel` is the only member both threads touch before the
// thread is waited for.
struct CStreamedPicture::CDecode {
  std::string source;
  vimo::convert::ReducedSize wanted;
  std::atomic<bool> cancel{false};
  vimo::convert::ReducedJpeg result;
  HWND hWnd = nullptr;
  CEvent* pWake = nullptr;
  unsigned nSerial = 0;
};

CStreamedPicture::CStreamedPicture() : m_hdd(DrawDibOpen()), m_hddReduced(DrawDibOpen()) {}

CStreamedPicture::~CStreamedPicture() {
  Reset();
  DrawDibClose(m_hdd);
  DrawDibClose(m_hddReduced);
}

void CStreamedPicture::Reset() {
  if (m_pDecode != nullptr) m_pDecode->cancel = true;
  m_pDecoder.reset();  // waits for it
  m_pDecode.reset();
  DrawDibSetSource(m_hdd, nullptr, 0, -1, 0);
  DrawDibSetSource(m_hddReduced, nullptr, 0, -1, 0);
  m_file.reset();
  m_reduced = {};
  m_strWritten.clear();
  m_strSource.clear();
  m_nRows = 0;
  m_sizeStored = CSize();
  m_nSerial = 0;
}

void CStreamedPicture::Begin(unsigned nSerial, const std::string& source, CWnd* pWnd, CEvent* pWake,
                             vimo::convert::ReducedSize wanted) {
  Reset();
  m_nSerial = nSerial;
  m_strSource = source;
  if (!wanted || pWnd == nullptr) return;
  auto decode = std::make_unique<CDecode>();
  decode->source = source;
  decode->wanted = std::move(wanted);
  decode->hWnd = pWnd->m_hWnd;
  decode->pWake = pWake;
  decode->nSerial = nSerial;
  m_pDecode = std::move(decode);
  m_pDecoder = AfxBeginThread(&CStreamedPicture::DecodeProc, m_pDecode.get());
}

UINT CStreamedPicture::DecodeProc(LPVOID pParam) {
  auto* decode = static_cast<CDecode*>(pParam);
  const auto target = ViewingColourTarget();  // the conversion's own colour target
  decode->result = vimo::convert::DecodeReducedJpeg(decode->source.c_str(), decode->wanted, target.get(), &decode->cancel);
  PostMessageA(decode->hWnd, WM_STREAMED_PICTURE, 0, static_cast<LPARAM>(decode->nSerial));
  if (decode->pWake != nullptr) decode->pWake->SetEvent();
  return 0;
}

BOOL CStreamedPicture::TakeReduced(LPARAM lParam) {
  if (m_pDecode == nullptr || lParam != static_cast<LPARAM>(m_nSerial)) return FALSE;
  m_pDecoder.reset();  // it has ended: what it wrote is seen from here on
  m_reduced = std::move(m_pDecode->result);
  m_pDecode.reset();
  if (m_reduced.bmp.size() <= vimo::convert::kBmpHeadersSize) {
    m_reduced = {};
    return FALSE;
  }
  m_sizeStored = CSize(static_cast<LONG>(m_reduced.fullWidth), static_cast<LONG>(m_reduced.fullHeight));
  DrawDibSetSource(m_hddReduced, m_reduced.bmp.data() + sizeof(BITMAPFILEHEADER), m_reduced.bmp.size() - sizeof(BITMAPFILEHEADER), -1, 0);
  return TRUE;
}

int CStreamedPicture::TakeRows(const std::string& written, int nRows) {
  if (written != m_strWritten) {
    // The file keeps its size from the first rows on; the mapping stays valid whatever becomes
    // of the name (renamed into place, or removed by a conversion that failed).
    m_file.reset();
    m_nRows = 0;
    m_strWritten = written;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(vimo::platform::OpenRegularFile(written.c_str()), &std::fclose);
    if (file) m_file = vimo::platform::MappedFile::Map(file.get(), sizeof(BITMAPFILEHEADER));
    BITMAPINFOHEADER header{};
    if (m_file == nullptr || m_file.size() < sizeof(header)) return -1;
    std::memcpy(&header, m_file.get(), sizeof(header));
    if (header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight <= 0) {
      m_file.reset();
      return -1;
    }
    m_sizeStored = CSize(header.biWidth, header.biHeight);
    DrawDibSetSource(m_hdd, m_file.get(), m_file.size(), m_file.descriptor(), m_file.offset());
  }
  if (m_file == nullptr) return -1;
  const int nBefore = m_nRows;
  m_nRows = std::clamp(nRows, m_nRows, static_cast<int>(m_sizeStored.cy));
  return nBefore;
}

CRect CStreamedPicture::RowsShown(int nFirst, int nLast, CPoint origin, const CImageLayout::CLayout& layout) {
  const double w = layout.sizeStored.cx;
  const double h = layout.sizeStored.cy;
  // A stored point's place in the picture as turned (the eight orientations of a photo).
  const auto turn = [&](double x, double y) -> std::pair<double, double> {
    switch (layout.nOrientation) {
      case 2: return {w - x, y};
      case 3: return {w - x, h - y};
      case 4: return {x, h - y};
      case 5: return {y, x};
      case 6: return {h - y, x};
      case 7: return {h - y, w - x};
      case 8: return {y, w - x};
      default: return {x, y};
    }
  };
  const auto [x1, y1] = turn(0, nFirst);
  const auto [x2, y2] = turn(w, nLast);
  const double s = layout.dScale;
  return CRect(origin.x + static_cast<LONG>(std::floor(std::min(x1, x2) * s)), origin.y + static_cast<LONG>(std::floor(std::min(y1, y2) * s)),
               origin.x + static_cast<LONG>(std::ceil(std::max(x1, x2) * s)), origin.y + static_cast<LONG>(std::ceil(std::max(y1, y2) * s)));
}

CSize CStreamedPicture::ReducedSize() const {
  if (!HasReduced()) return CSize();
  BITMAPINFOHEADER header;
  std::memcpy(&header, m_reduced.bmp.data() + sizeof(BITMAPFILEHEADER), sizeof(header));
  return CSize(header.biWidth, header.biHeight);
}

CRect CStreamedPicture::Covered(CPoint origin, const CImageLayout::CLayout& layout) const {
  if (HasReduced()) return CRect(origin.x, origin.y, origin.x + layout.sizeShown.cx, origin.y + layout.sizeShown.cy);
  return RowsShown(0, m_nRows, origin, layout);
}

void CStreamedPicture::Draw(CDC* pDC, CPoint origin, const CImageLayout::CLayout& layout) {
  if (HasReduced()) {
    // The header lies 14 bytes into the file's bytes: only its address is handed on, its fields
    // are read through a copy.
    const auto* lpbi = reinterpret_cast<const BITMAPINFOHEADER*>(m_reduced.bmp.data() + sizeof(BITMAPFILEHEADER));
    const CSize reduced = ReducedSize();
    DrawDibDraw(m_hddReduced, pDC, origin.x, origin.y, layout.sizeShown.cx, layout.sizeShown.cy, lpbi,
                m_reduced.bmp.data() + vimo::convert::kBmpHeadersSize, 0, 0, reduced.cx, reduced.cy, 0,
                layout.nOrientation);
    return;
  }
  if (m_nRows <= 0) return;
  const CRect shown = RowsShown(0, m_nRows, origin, layout);
  const auto* lpbi = reinterpret_cast<const BITMAPINFOHEADER*>(m_file.get());
  DrawDibDraw(m_hdd, pDC, shown.left, shown.top, shown.Width(), shown.Height(), lpbi, m_file.get() + sizeof(BITMAPINFOHEADER),
              0, 0, m_sizeStored.cx, m_nRows, 0, layout.nOrientation);
}
