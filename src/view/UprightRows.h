// The shown picture's pixels as the user sees them: the part of the document's bitmap that is
// shown, turned upright, read a band of rows at a time. Copy and Print take the picture this way,
// so what they hand on is what the view draws (the converted, colour-managed pixels).
#pragma once

#include <memory>
#include <vector>

#include "afx/afxwin.h"
#include "win32/DrawDib.h"

class CVimoDoc;

class CUprightRows {
 public:
  // The part rcSource of the document's shown bitmap (its own pixels, top row 0) turned by
  // nOrientation. Its rows come from a reader of its own (the converted file's descriptor, or a
  // copy of an animation's frame), so the document may move on meanwhile. Null, with the reason
  // in rReason, when no picture is shown or memory runs out.
  static std::unique_ptr<CUprightRows> Open(CVimoDoc& doc, const RECT& rcSource, int nOrientation, CString& rReason);

  int Width() const { return static_cast<int>(m_columnKey.size()); }
  int Height() const { return static_cast<int>(m_rowKey.size()); }
  // 3 or 4 bytes a pixel, blue first.
  int BytesPerPixel() const { return m_nBytesPerPixel; }
  // Upright rows nFirst .. nFirst + nRows - 1 into pOut, nStride bytes from one row to the next;
  // rows the file no longer holds are black.
  void FillBand(int nFirst, int nRows, BYTE* pOut, std::size_t nStride) const;

 private:
  struct RowsRelease {
    void operator()(HDIBROWS__* hRows) const { DrawDibCloseRows(hRows); }
  };
  CUprightRows(std::unique_ptr<HDIBROWS__, RowsRelease> pRows, const RECT& rcSource, int nOrientation);
  int StoredWidth() const { return m_rcSource.right - m_rcSource.left; }
  int StoredHeight() const { return m_rcSource.bottom - m_rcSource.top; }

  std::unique_ptr<HDIBROWS__, RowsRelease> m_pRows;
  RECT m_rcSource;
  vimo::platform::Orientation m_orientation;
  int m_nBytesPerPixel = 3;
  // Per upright row, its stored row (its stored column when turned sideways); per upright
  // column, its stored column (its stored row when turned sideways).
  std::vector<int> m_rowKey;
  std::vector<int> m_columnKey;
};
