#include "view/UprightRows.h"

#include <algorithm>
#include <cstring>

#include "doc/VimoDoc.h"

namespace {

struct DrawDibRelease {
  void operator()(HDRAWDIB__* hdd) const { DrawDibClose(hdd); }
};

}  // namespace

std::unique_ptr<CUprightRows> CUprightRows::Open(CVimoDoc& doc, const RECT& rcSource, int nOrientation, CString& rReason) {
  const int nWidth = rcSource.right - rcSource.left;
  const int nHeight = rcSource.bottom - rcSource.top;
  rReason = "no picture is shown";
  if (doc.m_pDib == nullptr || nWidth <= 0 || nHeight <= 0 || rcSource.left < 0 || rcSource.top < 0) return nullptr;
  std::unique_ptr<HDIBROWS__, RowsRelease> pRows;
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
  if (!pRows || !DrawDibGetRowsSize(pRows.get(), &nStoredWidth, &nStoredHeight)) {
    rReason = "out of memory";
    return nullptr;
  }
  if (rcSource.right > nStoredWidth || rcSource.bottom > nStoredHeight) return nullptr;
  rReason.Empty();
  return std::unique_ptr<CUprightRows>(new CUprightRows(std::move(pRows), rcSource, nOrientation));
}

CUprightRows::CUprightRows(std::unique_ptr<HDIBROWS__, RowsRelease> pRows, const RECT& rcSource, int nOrientation)
    : m_pRows(std::move(pRows)), m_rcSource(rcSource), m_orientation(vimo::platform::Orientation::FromExif(nOrientation)) {
  (void)DrawDibFetchRows(m_pRows.get(), m_rcSource.left, 1, &m_nBytesPerPixel);
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

// The stored rows are read in the order they are stored (top row first), which is the order the
// reader reads ahead in.
void CUprightRows::FillBand(int nFirst, int nRows, BYTE* pOut, std::size_t nStride) const {
  const std::size_t pixel = static_cast<std::size_t>(m_nBytesPerPixel);
  for (int row = 0; row < nRows; ++row) std::fill_n(pOut + static_cast<std::size_t>(row) * nStride, m_columnKey.size() * pixel, BYTE{0});
  const auto [lowest, highest] = std::minmax(m_rowKey[static_cast<std::size_t>(nFirst)], m_rowKey[static_cast<std::size_t>(nFirst + nRows - 1)]);
  if (!m_orientation.transposed) {
    const vimo::platform::RowFetch fetch = DrawDibFetchRows(m_pRows.get(), m_rcSource.left, StoredWidth(), nullptr);
    for (int stored = lowest; stored <= highest; ++stored) {
      const BYTE* row = fetch(m_rcSource.top + stored);
      const int upright = m_orientation.mirrorY ? StoredHeight() - 1 - stored : stored;
      BYTE* out = pOut + static_cast<std::size_t>(upright - nFirst) * nStride;
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
      std::memcpy(pOut + static_cast<std::size_t>(upright - nFirst) * nStride + column * pixel,
                  row + static_cast<std::size_t>(m_rowKey[static_cast<std::size_t>(upright)] - lowest) * pixel, pixel);
  }
}
