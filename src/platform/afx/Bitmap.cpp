#include "afx/Bitmap.h"

#include <QImage>

#include "afx/QtBridge.h"

CBitmap::CBitmap() = default;
CBitmap::~CBitmap() = default;
CBitmap::CBitmap(const CBitmap&) = default;
CBitmap& CBitmap::operator=(const CBitmap&) = default;
CBitmap::CBitmap(CBitmap&&) noexcept = default;
CBitmap& CBitmap::operator=(CBitmap&&) noexcept = default;

CSize CBitmap::GetSize() const { return m_pImage != nullptr ? CSize(m_pImage->width(), m_pImage->height()) : CSize(); }

CBitmap AfxBitmapOf(QImage image) {
  CBitmap bitmap;
  if (!image.isNull()) bitmap.m_pImage = std::make_shared<const QImage>(std::move(image));
  return bitmap;
}

const QImage* AfxImageOf(const CBitmap& bitmap) { return bitmap.m_pImage.get(); }
