#include "afx/Bitmap.h"

#include <QImage>

#include <cstring>

#include "afx/QtBridge.h"

CBitmap::CBitmap() = default;
CBitmap::~CBitmap() = default;
CBitmap::CBitmap(const CBitmap&) = default;
CBitmap& CBitmap::operator=(const CBitmap&) = default;
CBitmap::CBitmap(CBitmap&&) noexcept = default;
CBitmap& CBitmap::operator=(CBitmap&&) noexcept = default;

BOOL CBitmap::CreateBitmap(int nWidth, int nHeight, UINT /*nPlanes*/, UINT /*nBitcount*/, const void* /*lpBits*/) {
  if (nWidth <= 0 || nHeight <= 0) return FALSE;
  auto pImage = std::make_shared<QImage>(nWidth, nHeight, QImage::Format_RGB32);
  if (pImage->isNull()) return FALSE;
  pImage->fill(Qt::black);
  m_pImage = std::move(pImage);
  return TRUE;
}

DWORD CBitmap::GetBitmapBits(DWORD dwCount, LPVOID lpBits) const {
  if (!m_pImage || lpBits == nullptr) return 0;
  // Qt's 32-bit pixels lie in memory as Windows lays them: blue, green, red, then the fourth byte.
  const std::size_t rowBytes = 4 * static_cast<std::size_t>(m_pImage->width());
  std::size_t copied = 0;
  for (int y = 0; y < m_pImage->height() && copied + rowBytes <= dwCount; ++y, copied += rowBytes)
    std::memcpy(static_cast<BYTE*>(lpBits) + copied, m_pImage->constScanLine(y), rowBytes);
  return static_cast<DWORD>(copied);
}

CSize CBitmap::GetSize() const { return m_pImage != nullptr ? CSize(m_pImage->width(), m_pImage->height()) : CSize(); }

CBitmap AfxBitmapOf(QImage image) {
  CBitmap bitmap;
  if (!image.isNull()) bitmap.m_pImage = std::make_shared<QImage>(std::move(image));
  return bitmap;
}

const QImage* AfxImageOf(const CBitmap& bitmap) { return bitmap.m_pImage.get(); }

QImage AfxDrawableImage(const QImage& image) {
  return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
}
