// CBitmap: a picture in memory, as the platform's services make it (the thumbnail cache) and its
// controls draw it (CImageList). Copies share the pixels, which never change once made.
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

  // No picture (nothing was made, or it was let go).
  BOOL IsEmpty() const { return m_pImage == nullptr ? TRUE : FALSE; }
  // Width and height in pixels; 0 x 0 when empty.
  CSize GetSize() const;
  void DeleteObject() { m_pImage.reset(); }

 private:
  friend CBitmap AfxBitmapOf(QImage image);
  friend const QImage* AfxImageOf(const CBitmap& bitmap);
  std::shared_ptr<const QImage> m_pImage;
};
