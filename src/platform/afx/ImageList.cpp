#include "afx/ImageList.h"

#include <QImage>

#include <vector>

#include "afx/QtBridge.h"

struct CImageList::CImages {
  std::vector<QImage> images;  // ready to be drawn; null where the place is empty
};

CImageList::CImageList() : m_pImages(std::make_unique<CImages>()) {}

CImageList::~CImageList() = default;

BOOL CImageList::Create(int cx, int cy, UINT /*nFlags*/, int nInitial, int /*nGrow*/) {
  if (cx <= 0 || cy <= 0 || nInitial < 0) return FALSE;
  m_cx = cx;
  m_cy = cy;
  m_pImages->images.assign(static_cast<std::size_t>(nInitial), QImage());
  return TRUE;
}

int CImageList::GetImageCount() const { return static_cast<int>(m_pImages->images.size()); }

BOOL CImageList::SetImageCount(UINT uNewCount) {
  m_pImages->images.resize(uNewCount);
  return TRUE;
}

BOOL CImageList::Replace(int nImage, const CBitmap* pbmImage, const CBitmap* /*pbmMask*/) {
  if (nImage < 0 || nImage >= GetImageCount()) return FALSE;
  QImage& place = m_pImages->images[static_cast<std::size_t>(nImage)];
  const QImage* image = pbmImage != nullptr ? AfxImageOf(*pbmImage) : nullptr;
  if (image == nullptr) {
    place = QImage();
    return TRUE;
  }
  place = AfxDrawableImage(image->width() > m_cx || image->height() > m_cy
                               ? image->scaled(m_cx, m_cy, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                               : *image);
  return TRUE;
}

BOOL CImageList::GetIconSize(int& cx, int& cy) const {
  cx = m_cx;
  cy = m_cy;
  return m_cx > 0 ? TRUE : FALSE;
}

const QImage* AfxImageOf(const CImageList& list, int nImage) {
  if (nImage < 0 || nImage >= list.GetImageCount()) return nullptr;
  const QImage& image = list.m_pImages->images[static_cast<std::size_t>(nImage)];
  return image.isNull() ? nullptr : &image;
}
