// CBitmap: a picture in memory, as the platform's services make it (the thumbnail cache), its
// controls draw it (CImageList) and a memory device context paints into it (CDC::SelectObject).
// Copies share the pixels, as copies of a Windows bitmap handle do.
#pragma once

#include <memory>

#include "afx/Wnd.h"

class QImage;

class CBitmap {
 public:
  CBitmap();
  ~CBitmap();
  CBitmap(const CBitmap&);
  CBitmap& operator=(const CBitmap&);
  CBitmap(CBitmap&&) noexcept;
  CBitmap& operator=(CBitmap&&) noexcept;

  // nWidth x nHeight black pixels (planes and bits as Windows takes them: 1 and 32; the bits
  // given must be NULL). FALSE when there is no memory for them.
  BOOL CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitcount, const void* lpBits);
  // Copies the pixels, top row first, 4 bytes each (blue, green, red, unused), into lpBits of
  // dwCount bytes; returns the bytes copied.
  DWORD GetBitmapBits(DWORD dwCount, LPVOID lpBits) const;

  // No picture (nothing was made, or it was let go).
  BOOL IsEmpty() const { return m_pImage == nullptr ? TRUE : FALSE; }
  // Width and height in pixels; 0 x 0 when empty.
  CSize GetSize() const;
  void DeleteObject() { m_pImage.reset(); }

 private:
  friend CBitmap AfxBitmapOf(QImage image);
  friend const QImage* AfxImageOf(const CBitmap& bitmap);
  friend class CDC;
  std::shared_ptr<QImage> m_pImage;
};
